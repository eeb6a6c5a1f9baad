def fail(): raise ValueError("bad things")
fail()
