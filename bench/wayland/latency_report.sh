# The awk function the latency benches print with: median, mean and max in ms of
# the n samples in a, against a target.
# shellcheck disable=SC2034
REPORT_AWK='
  function report(name, a, n, target,   i, j, t, sum) {
    if (n == 0) { printf "%-34s no samples\n", name; return }
    for (i = 0; i < n; i++) for (j = i + 1; j < n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    for (i = 0; i < n; i++) sum += a[i]
    printf "%-34s n=%d  median %.1f ms  mean %.1f ms  max %.1f ms  (target < %d ms)\n",
           name, n, a[int(n / 2)], sum / n, a[n - 1], target
  }
'
