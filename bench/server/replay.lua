-- wrk script of the server's load run: each thread sends its share of the prepared requests, each
-- once, and counts the answers that carry a rank (taken scores). In the last second of the run
-- nothing new is sent: the answers under way arrive, and no request is cut off by the end of the
-- run after the server stored it, so the database ends with exactly the accepted count.
-- wrk ... -s replay.lua URL -- REQUEST_FILE THREADS SECONDS
local ffi = require("ffi")
ffi.cdef [[
  typedef struct { long tv_sec; long tv_nsec; } zx_timespec;
  int clock_gettime(int clk, zx_timespec* ts);
]]
local function now()
  local ts = ffi.new("zx_timespec")
  ffi.C.clock_gettime(1, ts) -- CLOCK_MONOTONIC
  return tonumber(ts.tv_sec) + tonumber(ts.tv_nsec) / 1e9
end

local threads = {}
local nextId = 0

function setup(thread)
  thread:set("id", nextId)
  nextId = nextId + 1
  table.insert(threads, thread)
end

function init(args)
  paths = {}
  local total = tonumber(args[2])
  local n = 0
  for line in io.lines(args[1]) do
    if n % total == id then paths[#paths + 1] = line end
    n = n + 1
  end
  index = 0
  accepted = 0
  refused = 0
  other = 0
  fresh = 0
  started = now()
  freshUntil = started + tonumber(args[3]) - 1
end

local function sending()
  return now() < freshUntil and index < #paths
end

-- Milliseconds before a connection sends its next request: past the sending time, longer than
-- the run lasts.
function delay()
  if sending() then return 0 end
  return 60000
end

function request()
  index = index + 1
  fresh = fresh + 1
  return wrk.format("GET", paths[math.min(index, #paths)])
end

function response(status, headers, body)
  if status == 200 and string.find(body, "\nwRang=", 1, true) then
    accepted = accepted + 1
  elseif status == 200 then
    refused = refused + 1
  else
    other = other + 1
  end
end

function done(summary, latency, requests)
  local a, r, o, f = 0, 0, 0, 0
  for _, t in ipairs(threads) do
    a = a + t:get("accepted")
    r = r + t:get("refused")
    o = o + t:get("other")
    f = f + t:get("fresh")
  end
  local seconds = summary.duration / 1e6 - 1
  io.write(string.format("accepted %d (of %d new) refused %d other %d: %.0f accepted/s over %.1f s\n",
    a, f, r, o, a / seconds, seconds))
  io.write(string.format("latency p50 %.2f ms p99 %.2f ms max %.2f ms\n",
    latency:percentile(50) / 1000, latency:percentile(99) / 1000, latency.max / 1000))
end
