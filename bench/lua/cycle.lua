-- wrk script: cycles through the request paths of a file, one per line, so
-- that every request names a different document or query.
--   wrk ... -s cycle.lua URL -- PATHS-FILE [METHOD]
-- At the end it prints one line "WRKJSON {...}" with the counts and the
-- latency percentiles (microseconds) that the bench runner reads.
local paths = {}
local method = "GET"
local i = 0

function init(args)
  for line in io.lines(args[1]) do
    if #line > 0 then paths[#paths + 1] = line end
  end
  method = args[2] or "GET"
end

function request()
  i = i % #paths + 1
  return wrk.format(method, paths[i])
end

function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    'WRKJSON {"requests":%d,"duration_us":%d,"bytes":%d,"errors_status":%d,' ..
    '"errors_connect":%d,"errors_read":%d,"errors_write":%d,"errors_timeout":%d,' ..
    '"mean_us":%.1f,"p50_us":%d,"p90_us":%d,"p99_us":%d,"max_us":%d}\n',
    summary.requests, summary.duration, summary.bytes, e.status, e.connect, e.read,
    e.write, e.timeout, latency.mean, latency:percentile(50), latency:percentile(90),
    latency:percentile(99), latency.max))
end
