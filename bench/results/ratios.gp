set terminal pngcairo noenhanced size 1000,600 font ',11'
set output '/work/main/docs/benchmarks.png'
set title "Time of each tool ÷ time of prepFolder (medians, same run); below 1 = faster than prepFolder"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y 2
set yrange [0.25:*]
set ylabel 'ratio to prepFolder (log scale)'
set grid ytics
set key outside bottom center horizontal
set arrow from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc rgb 'black'
set xtics nomirror
plot for [i=2:5] '/work/main/bench/results/ratios.dat' using i:xtic(1) title columnheader(i)
