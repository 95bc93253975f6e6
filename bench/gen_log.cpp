// Writes a sorted ISO-8601 UTC log of about SIZE bytes to standard output:
// lines of about 100 bytes, several a second, as a web tier would write.
// With TRACE_SECONDS, a line every that many seconds is followed by a Java
// stack trace of eight lines without a time. With --syslog, each line
// begins as syslog writes it, "Mar  1 10:15:02 host app[123]: ", without
// a year, and carries the same message.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int main(int argc, char **argv) {
  bool syslog = argc > 1 && std::strcmp(argv[1], "--syslog") == 0;
  if (syslog) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fputs("usage: gen_log [--syslog] SIZE_BYTES [FIRST_EPOCH "
               "[TRACE_SECONDS]]\n",
               stderr);
    return 2;
  }
  unsigned long long size = std::strtoull(argv[1], nullptr, 0);
  std::time_t t = argc > 2 ? std::strtoll(argv[2], nullptr, 0) : 1704067200;
  long long trace_seconds = argc > 3 ? std::strtoll(argv[3], nullptr, 0) : 0;
  std::time_t traced = t;
  const char *hosts[] = {"web-01", "web-02", "web-03", "api-01"};
  const char *paths[] = {"/api/v2/orders", "/api/v2/users/profile", "/health",
                         "/api/v2/cart/items", "/static/app.js"};
  const int codes[] = {200, 200, 200, 201, 304, 404, 500};
  unsigned long long written = 0, seed = 88172645463325252ull;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  char stamp[32];
  std::time_t stamped = -1;
  while (written < size) {
    if (next() % 8 == 0)
      ++t;
    if (t != stamped) {
      std::tm tm;
      gmtime_r(&t, &tm);
      std::strftime(stamp, sizeof stamp,
                    syslog ? "%b %e %H:%M:%S" : "%Y-%m-%dT%H:%M:%S", &tm);
      stamped = t;
    }
    unsigned long long r = next();
    // A syslog stamp is 9 bytes shorter; the request's id makes up for
    // them, so that both shapes have as many lines for their size.
    int n =
        syslog
            ? std::printf("%s %s nginx[%llu]: GET %s %d %llub %llums "
                          "id=%04llu ua=curl/8.5\n",
                          stamp, hosts[r % 4], 2200 + r % 40,
                          paths[(r >> 8) % 5], codes[(r >> 16) % 7],
                          80 + (r >> 20) % 9000, 1 + (r >> 32) % 400,
                          (r >> 40) % 10000)
            : std::printf("%s.%03lluZ %s nginx[%llu]: GET %s %d %llub %llums "
                          "ua=curl/8.5\n",
                          stamp, r % 1000, hosts[r % 4], 2200 + r % 40,
                          paths[(r >> 8) % 5], codes[(r >> 16) % 7],
                          80 + (r >> 20) % 9000, 1 + (r >> 32) % 400);
    if (n < 0)
      return 1;
    written += static_cast<unsigned>(n);
    if (trace_seconds > 0 && t - traced >= trace_seconds) {
      traced = t;
      n = std::printf(
          "java.lang.IllegalStateException: order %llu not found\n"
          "\tat com.example.orders.OrderService.find(OrderService.java:%llu)\n"
          "\tat com.example.orders.OrderController.get(OrderController.java:"
          "88)\n"
          "\tat jdk.internal.reflect.GeneratedMethodAccessor42.invoke(Unknown "
          "Source)\n"
          "\tat java.base/java.lang.reflect.Method.invoke(Method.java:580)\n"
          "\tat org.springframework.web.servlet.FrameworkServlet.service("
          "FrameworkServlet.java:885)\n"
          "\tat jakarta.servlet.http.HttpServlet.service(HttpServlet.java:658)"
          "\n"
          "\tat java.base/java.lang.Thread.run(Thread.java:1583)\n",
          r % 100000, 100 + r % 300);
      if (n < 0)
        return 1;
      written += static_cast<unsigned>(n);
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
