defined_before_failure = True


def fail():
    raise ValueError("bad things")


fail()
