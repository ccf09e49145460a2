-- wrk script of bench/site_live_bench.sh: each connection is a viewer of the live view that asks
-- for one of the request targets of a list file in turn, then waits a random time of 0 to twice
-- the poll interval (wrk's latency counts the answers only, not the waits).
--   wrk ... -s bench/site_live_wrk.lua http://127.0.0.1:PORT/ -- LIST.txt POLL_MS
local targets = {}
local next_index = 0
local poll_ms = 1000

function init(args)
  for line in io.lines(args[1]) do
    if #line > 0 then targets[#targets + 1] = line end
  end
  if #targets == 0 then error("no request targets in " .. args[1]) end
  poll_ms = tonumber(args[2] or "1000")
  math.randomseed(os.time() + #targets)
  next_index = math.random(#targets)
end

function request()
  next_index = next_index % #targets + 1
  return wrk.format("GET", targets[next_index])
end

function delay()
  return math.random(0, 2 * poll_ms)
end
