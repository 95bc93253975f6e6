# Time against log size, log-log, from the table bench/run.sh writes.
# Usage: gnuplot -c bench/chart.gp DATA OUT.svg "MACHINE"
# DATA columns: MiB, then the median seconds of stampcut's one-minute
# query, stampcut's whole-file query, dd, grep and gawk.
set terminal svg size 800,500 dynamic font "sans,13" background "white"
set output ARG2
set title "Time against log size, log in the page cache\n{/*0.75 ".ARG3."}"
set logscale xy
set xlabel "log size"
set ylabel "time (median)"
set xtics ("16 MiB" 16, "64 MiB" 64, "256 MiB" 256, "1 GiB" 1024, "2 GiB" 2048, \
           "4 GiB" 4096, "8 GiB" 8192)
set ytics ("0.1 ms" 1e-4, "1 ms" 1e-3, "10 ms" 1e-2, "100 ms" 0.1, "1 s" 1, \
           "10 s" 10, "100 s" 100)
set mxtics 1
set autoscale xfix
set grid xtics ytics lc rgb "#dddddd"
set key top left box opaque samplen 2
set offsets graph 0.04, graph 0.04, graph 0.1, graph 0.1
set style data linespoints

plot ARG1 using 1:6 title "gawk, the same minute" lw 2 pt 9 lc rgb "#9467bd", \
     ARG1 using 1:5 title "grep -F, the same minute" lw 2 pt 13 lc rgb "#8c564b", \
     ARG1 using 1:3 title "stampcut, the whole file" lw 2 pt 7 lc rgb "#ff7f0e", \
     ARG1 using 1:4 title "dd bs=1M, reading the file" lw 2 dt 2 pt 5 lc rgb "#555555", \
     ARG1 using 1:2 title "stampcut, one minute" lw 3 pt 7 lc rgb "#1f77b4"
