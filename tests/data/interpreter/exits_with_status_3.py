raise SystemExit(3)
