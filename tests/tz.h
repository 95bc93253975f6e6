// Sets the process's time zone for the length of a scope.
#ifndef STAMPCUT_TESTS_TZ_H
#define STAMPCUT_TESTS_TZ_H

#include <cstdlib>
#include <ctime>

struct scoped_tz {
  explicit scoped_tz(const char *zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~scoped_tz() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

#endif
