# Encoder objects for the transcoder tests. Each remembers the arguments Python received.


class Returns:
    """encode and decode give back fixed results."""

    def __init__(self, encoded=0, decoded=0):
        self.encoded = encoded
        self.decoded = decoded
        self.args = []

    def encode(self, value):
        self.args.append(value)
        return self.encoded

    def decode(self, raw):
        self.args.append(raw)
        return self.decoded


class TwosComplement:
    """The engineering value's 64-bit pattern and back, for signed fields."""

    def encode(self, value):
        return value & 0xFFFFFFFFFFFFFFFF

    def decode(self, raw):
        return raw - (1 << 64) if raw >= (1 << 63) else raw


class Raising:
    def encode(self, value):
        raise ValueError("cannot encode %r" % (value,))

    def decode(self, raw):
        raise ValueError("cannot decode %r" % (raw,))


class EncodeRaises(Returns):
    def encode(self, value):
        raise KeyError(value)


class Named(Returns):
    name = "Altimeter"


class BadlyNamed(Returns):
    name = 5


class OnlyEncode:
    def encode(self, value):
        return 1


class NotCallableDecode:
    decode = 5

    def encode(self, value):
        return 1


class Echo:
    """Text encoder: encode gives back its input, decode its input reversed."""

    def __init__(self):
        self.args = []

    def encode(self, value):
        self.args.append(value)
        return value

    def decode(self, raw):
        self.args.append(raw)
        return raw[::-1]


class Gives:
    """Text encoder whose methods give back a fixed object."""

    def __init__(self, result):
        self.result = result

    def encode(self, value):
        return self.result

    def decode(self, raw):
        return self.result
