local app = {}

local function foreground()
  local head = nil
  local i = 0
  while i < 500 do
    head = {next = head, value = i}
    i = i + 1
  end
  repeat
    app.list = {next = app.list, value = i}
    i = i - 1
  until i <= 0
  app.list = nil
end

for _ = 1, 2000 do
  foreground()
  collectgarbage()
end
