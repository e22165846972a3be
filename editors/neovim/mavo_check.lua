-- mavo-check's language server for .qst files in Neovim 0.7 and later: put this
-- file in your config (for example as ~/.config/nvim/plugin/mavo_check.lua).
-- One server for each game folder; set vim.g.mavo_check_path when mavo-check is
-- not on your PATH. For cp1251 games let Neovim read cp1251 too:
--   vim.opt.fileencodings = 'ucs-bom,utf-8,cp1251'
-- The file type, in a way that 0.7 takes as well as later versions.
vim.api.nvim_create_autocmd({ 'BufRead', 'BufNewFile' }, { pattern = '*.qst', command = 'setfiletype qst' })

local servers = {}  -- client id by folder

vim.api.nvim_create_autocmd('FileType', {
  pattern = 'qst',
  callback = function(args)
    local folder = vim.fn.fnamemodify(vim.api.nvim_buf_get_name(args.buf), ':p:h')
    local id = servers[folder]
    if id == nil or vim.lsp.get_client_by_id(id) == nil then
      id = vim.lsp.start_client({
        name = 'mavo-check',
        cmd = { vim.g.mavo_check_path or 'mavo-check', '--lsp' },
        root_dir = folder,
        init_options = { mavoCheck = { mode = vim.g.mavo_check_mode } },
      })
      servers[folder] = id
    end
    if id ~= nil then vim.lsp.buf_attach_client(args.buf, id) end
  end,
})
