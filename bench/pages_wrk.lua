-- wrk script of bench/pages_bench.sh: asks for the request targets of a list file in turn.
--   wrk ... -s bench/pages_wrk.lua http://127.0.0.1:PORT/ -- LIST.txt
local targets = {}
local next_index = 0

function init(args)
  for line in io.lines(args[1]) do
    if #line > 0 then targets[#targets + 1] = line end
  end
  if #targets == 0 then error("no request targets in " .. args[1]) end
end

function request()
  next_index = next_index % #targets + 1
  return wrk.format("GET", targets[next_index])
end
