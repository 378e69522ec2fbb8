# Time and peak memory against the pixel count (scaling.tsv: pixels, times of
# zoltenc, zoltdec, dd, libvips, then the peak memory columns of report.py).
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
     "" using 1:4 with linespoints dashtype 2 title "dd (same bytes)", \
     "" using 1:5 with linespoints title "libvips"
unset logscale y
set yrange [0:*]
set ylabel "peak resident memory (MiB)"
set title "Peak memory"
plot "scaling.tsv" using 1:6 with linespoints title "zoltenc, 64-row strips", \
     "" using 1:7 with linespoints title "zoltenc, one strip", \
     "" using 1:8 with linespoints title "zoltenc, 64 MiB LZW strips", \
     "" using 1:9 with linespoints title "zoltenc, 256 x 256 tiles", \
     "" using 1:10 with linespoints title "zoltdec", \
     "" using 1:11 with linespoints title "libvips", \
     "" using 1:12 with linespoints dashtype 2 title "dd"
unset multiplot
