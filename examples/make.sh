#!/bin/sh
# Writes the example logs that the README's examples read, all of the night
# of 2024-03-01 (UTC), from a fixed seed, so that the same script gives the
# same bytes on any machine: the README states how many lines each example
# prints, and tests/readme_examples.sh checks it. app.log is older than this
# script and is left as it is.
# Usage: sh examples/make.sh   (from anywhere; writes next to itself)
set -eu
cd "$(dirname "$0")"

# One log of the night: lines from FIRST to LAST (seconds of the day), each
# LEAST to MOST seconds after the one before, in the shape SHAPE. Park and
# Miller's generator, whose products stay within a double's 53 bits, so
# that every awk computes the same numbers.
night() { # SHAPE FIRST LAST LEAST MOST SEED
  awk -v shape="$1" -v first="$2" -v last="$3" -v least="$4" -v most="$5" \
    -v seed="$6" '
    function next_random(n) { seed = (seed * 16807) % 2147483647; return seed % n }
    function pick(list,   a, n) { n = split(list, a, "|"); return a[next_random(n) + 1] }
    BEGIN {
      hosts = "web-01|web-02|api-01"
      paths = "/api/v2/orders|/api/v2/users|/health|/static/app.js|/login"
      codes = "200|200|200|200|304|404|500"
      for (t = first; t <= last; t += least + next_random(most - least + 1)) {
        hh = int(t / 3600); mm = int(t / 60) % 60; ss = t % 60
        ms = next_random(1000); host = pick(hosts); pid = 2200 + next_random(40)
        path = pick(paths); code = pick(codes); took = 1 + next_random(400)
        if (shape == "iso")
          printf "2024-03-01T%02d:%02d:%02d.%03dZ %s nginx[%d]: GET %s %d %db %dms\n",
            hh, mm, ss, ms, host, pid, path, code, 200 + next_random(9000), took
        else if (shape == "json")
          printf "{\"level\":\"%s\",\"pid\":%d,\"ts\":\"2024-03-01T%02d:%02d:%02d.%03dZ\",\"host\":\"%s\",\"msg\":\"GET %s\",\"status\":%d,\"ms\":%d}\n",
            (code >= 500 ? "error" : "info"), pid, hh, mm, ss, ms, host, path, code, took
        else if (shape == "syslog") {
          what = next_random(6)
          if (what == 0)
            line = sprintf("sshd[%d]: Accepted publickey for deploy from 10.0.0.%d port %d ssh2",
              800 + next_random(100), 2 + next_random(250), 40000 + next_random(20000))
          else if (what == 1)
            line = sprintf("CRON[%d]: (root) CMD (command -v debian-sa1 > /dev/null && debian-sa1 1 1)",
              9000 + next_random(900))
          else if (what == 2)
            line = sprintf("kernel: [%d.%06d] eth0: link up, 1000Mbps, full-duplex",
              86400 + t, next_random(1000000))
          else
            line = sprintf("nginx[%d]: %s %s %d", pid, "GET", path, code)
          printf "Mar  1 %02d:%02d:%02d %s %s\n", hh, mm, ss, host, line
        } else if (shape == "worker")
          printf "01/03/2024 %02d:%02d:%02d worker[%d]: job %d done in %d ms\n",
            hh, mm, ss, 7 + next_random(4), 10000 + next_random(90000), took
      }
    }'
}

# Classic syslog, one hour: no year, so it takes the year of the file's last
# change (a checkout's), and the examples select it by time of day.
night syslog 10800 14399 1 13 11 >syslog
# JSON lines with a number before the stamp.
night json 12000 13200 1 6 17 >app.json
# A stamp that -m does not recognise: day/month/year.
night worker 12600 13500 2 9 23 >worker.log
# A rotated set, an hour a file, the older two compressed as logrotate's
# delaycompress leaves them; gzip -n stores no name or time.
mkdir -p rotated
night iso 0 3599 5 25 31 | gzip -9n >rotated/web.log.3.gz
night iso 3600 7199 5 25 37 | gzip -9n >rotated/web.log.2.gz
night iso 7200 10799 5 25 41 >rotated/web.log.1
night iso 10800 14399 5 25 43 >rotated/web.log
