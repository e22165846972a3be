-- Run by nvim_test.sh inside headless Neovim, with the configuration of
-- docs/editors.md and game.qst of a two-file cp1251 game open: the diagnostics of
-- the misspelt target arrive with the check's name as their code and the right
-- columns, a quick fix writes the ignore comment, and a definition request jumps to
-- the location's line, in the same file and in the other one. Prints one line a check and ends Neovim with status 0 when
-- all hold, else 1.
local failed = 0
local function say(line) io.stdout:write(line .. '\n') end
local function check(ok, what)
  if ok then say('ok: ' .. what) else failed = failed + 1; say('FAIL: ' .. what) end
end

local buf = vim.api.nvim_get_current_buf()
check(vim.bo[buf].filetype == 'qst', 'game.qst has the filetype qst')
check(vim.bo[buf].fileencoding == 'cp1251', 'game.qst is read as cp1251 (' .. vim.bo[buf].fileencoding .. ')')

local arrived = vim.wait(20000, function() return #vim.diagnostic.get(buf) > 0 end, 50)
check(arrived, 'diagnostics published')
local found = nil
for _, d in ipairs(vim.diagnostic.get(buf)) do
  say(string.format('  game.qst:%d:%d-%d: %s [%s] (%s)', d.lnum + 1, d.col + 1, d.end_col + 1, d.message,
                    tostring(d.code), tostring(d.source)))
  if d.code == 'unknown-location' then found = d end
end
check(found ~= nil, 'a diagnostic with the code unknown-location')
if found ~= nil then
  -- "pln Привет & goto хал": the target at byte 24 of the line in Neovim's UTF-8, 6 bytes long.
  check(found.lnum == 2 and found.col == 24 and found.end_lnum == 2 and found.end_col == 30,
        string.format('it covers "хал" on line 3 (line %d, bytes %d-%d)', found.lnum + 1, found.col, found.end_col))
  check(found.source == 'mavo-check', 'its source is mavo-check')
  check(found.severity == vim.diagnostic.severity.WARN, 'it is a warning')
end

-- The quick fixes offered at the finding: the name meant, "зал", in place of the
-- target, and "ignore here", whose edit writes the ignore comment.
if found ~= nil then
  vim.api.nvim_win_set_cursor(0, { found.lnum + 1, found.col })
  local params = vim.lsp.util.make_range_params()
  params.context = { diagnostics = { found.user_data.lsp } }
  local answers = vim.lsp.buf_request_sync(buf, 'textDocument/codeAction', params, 10000) or {}
  local ignore = false
  local meant = false
  for _, answer in pairs(answers) do
    for _, action in ipairs(answer.result or {}) do
      local edit_text = ''
      for _, edits in pairs((action.edit or {}).changes or {}) do
        for _, e in ipairs(edits) do edit_text = edit_text .. e.newText end
      end
      say(string.format('  quick fix: %s (%s)', action.title, vim.inspect(edit_text)))
      if edit_text:find('mavo-check: ignore unknown-location', 1, true) then ignore = true end
      if edit_text == 'зал' then meant = true end
    end
  end
  check(meant, 'a quick fix writes "зал" in place of the target')
  check(ignore, 'a quick fix writes ";mavo-check: ignore unknown-location"')
end

local function jump(line, col, file, want_line, what)
  vim.api.nvim_win_set_cursor(0, { line, col })
  vim.lsp.buf.definition()
  local ok = vim.wait(10000, function()
    return vim.api.nvim_buf_get_name(0):sub(-#file) == file and vim.api.nvim_win_get_cursor(0)[1] == want_line
  end, 50)
  check(ok, string.format('%s: at %s:%d (%s:%d)', what, file, want_line,
                          vim.fn.fnamemodify(vim.api.nvim_buf_get_name(0), ':t'), vim.api.nvim_win_get_cursor(0)[1]))
end
-- Line 4 is "btn зал,Идти" (the cursor on "зал", byte 4); :зал is line 7.
jump(4, 4, 'game.qst', 7, 'definition of the btn target')
-- Line 9 is "goto cellar"; :cellar is line 2 of part2.qst.
jump(9, 6, 'part2.qst', 2, 'definition in the other file')

say(failed == 0 and 'neovim: all checks hold' or string.format('neovim: %d checks failed', failed))
vim.cmd(failed == 0 and 'qall!' or 'cquit 1')
