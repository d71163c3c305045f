local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end

local function fib2(n)
  local r = n
  if n > 1 then r = fib2(n - 2) + fib2(n - 1) end
  return r
end

assert(fib(31) + fib2(31) == 2692538)
