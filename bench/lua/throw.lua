local problem = {}
local function thrower(e) error(e) end
local caught = 0
for _ = 1, 1000000 do
  local ok, e = pcall(thrower, problem)
  if not ok and e == problem then caught = caught + 1 end
end
assert(caught == 1000000)
