probe()
