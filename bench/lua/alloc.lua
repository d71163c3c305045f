local function event()
  local head = nil
  for i = 0, 999 do head = {next = head, value = i} end
end
for _ = 1, 2000 do
  event()
  collectgarbage()
end
