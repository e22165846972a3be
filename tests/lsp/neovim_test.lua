-- Neovim's own client on mavo-check --lsp, headless, with editors/neovim/mavo_check.lua:
--   nvim --headless --clean -c "let g:mavo_check_path='<mavo-check>'" \
--        -c "luafile editors/neovim/mavo_check.lua" -c "luafile tests/lsp/neovim_test.lua"
-- Prints what an author sees and quits with status 0 when all of it is as expected.
local function say(line) io.stdout:write(line .. '\n') end
local function fail(why)
  say('FAILED: ' .. why)
  vim.cmd('cquit 1')
end

local folder = vim.fn.tempname()
vim.fn.mkdir(folder, 'p')
local script = folder .. '/castle.qst'
-- The castle with a misspelt target: "hal" for "hall".
vim.fn.writefile({ ':start', 'pln You stand at the gate.', 'btn hal,Enter the hall', 'end', ':hall',
                   'pln A great hall.', 'end' }, script)
vim.cmd('edit ' .. script)

if not vim.wait(20000, function() return #vim.diagnostic.get(0) > 0 end, 50) then fail('no diagnostics') end
local d = vim.diagnostic.get(0)[1]
local code = d.code or (d.user_data and d.user_data.lsp and d.user_data.lsp.code)
say(string.format('diagnostic: %s:%d:%d: [%s] %s', 'castle.qst', d.lnum + 1, d.col + 1, tostring(code), d.message))
if code ~= 'unknown-location' or d.lnum ~= 2 or d.col ~= 4 then fail('not the misspelt target') end

-- The quick fixes offered there.
local params = vim.lsp.util.make_range_params()
params.range = { start = { line = d.lnum, character = d.col }, ['end'] = { line = d.end_lnum, character = d.end_col } }
params.context = { diagnostics = vim.lsp.diagnostic.get_line_diagnostics(0, d.lnum) }
local answers = vim.lsp.buf_request_sync(0, 'textDocument/codeAction', params, 10000) or {}
local titles = {}
for _, answer in pairs(answers) do
  for _, action in ipairs(answer.result or {}) do table.insert(titles, action.title) end
end
say('quick fixes: ' .. table.concat(titles, '; '))
if not vim.tbl_contains(titles, 'mavo-check: write "hall"') then fail('no fix to "hall"') end
if not vim.tbl_contains(titles, 'mavo-check: ignore unknown-location here') then fail('no "ignore here"') end

-- The jump: from the target of a goto to its location.
vim.api.nvim_buf_set_lines(0, 3, 3, false, { 'goto hall' })
vim.api.nvim_win_set_cursor(0, { 4, 6 })
vim.lsp.buf.definition()
if not vim.wait(10000, function() return vim.api.nvim_win_get_cursor(0)[1] == 6 end, 50) then
  fail('the definition did not jump')
end
local at = vim.api.nvim_win_get_cursor(0)
say(string.format('definition: from line 4 to line %d, column %d: %s', at[1], at[2] + 1,
                  vim.api.nvim_get_current_line()))
vim.cmd('qall!')
