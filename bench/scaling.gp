# Time and peak memory of both programs against the pixel count (scaling.tsv).
set terminal pngcairo size 1000,420 font ",10"
set output "scaling.png"
set multiplot layout 1,2
set key top left
set grid
set logscale xy
set xlabel "pixels"
set format x "10^{%T}"
set ylabel "median time (s)"
set title "Time"
plot "scaling.tsv" using 1:2 with linespoints title "zoltenc", \
     "" using 1:3 with linespoints title "zoltdec", \
     "" using 1:4 with linespoints dashtype 2 title "dd (same bytes)"
set ylabel "peak resident memory (MiB)"
set title "Peak memory"
plot "scaling.tsv" using 1:5 with linespoints title "zoltenc", \
     "" using 1:6 with linespoints title "zoltdec", \
     "" using 1:7 with lines dashtype 2 title "image bytes"
unset multiplot
