# Encoder objects for the transcoder tests.


# encode and decode give back fixed results and remember what Python received.
class Returns:
    def __init__(self, encoded=0, decoded=0):
        self.encoded, self.decoded, self.args = encoded, decoded, []

    encode = lambda self, value: self.args.append(value) or self.encoded
    decode = lambda self, raw: self.args.append(raw) or self.decoded


# The engineering value's 64-bit pattern and back, for signed fields.
class TwosComplement:
    encode = lambda self, value: value & 0xFFFFFFFFFFFFFFFF
    decode = lambda self, raw: raw - (1 << 64) if raw >= (1 << 63) else raw


class EncodeRaises(Returns):
    encode = lambda self, value: {}[value]


# Text encoder: encode gives back its input, decode its input reversed.
class Echo(Returns):
    encode = lambda self, value: self.args.append(value) or value
    decode = lambda self, raw: raw[::-1]


class OnlyEncode:
    encode = lambda self, value: 1


class NotCallableDecode(OnlyEncode):
    decode = 5
