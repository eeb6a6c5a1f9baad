script_kind = probe()
