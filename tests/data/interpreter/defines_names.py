# Runs as the script of a session: sees the session's namespace and its own file name.
answer = 6 * 7
seen_name = __name__
seen_file = __file__
doubled = earlier * 2
