#!/usr/bin/python3
"""Writes the seed corpus of the image reader fuzz target into fuzz/corpus."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus")
os.makedirs(out, exist_ok=True)


def card(text):
    return text.ljust(80)[:80].encode("ascii")


def value(key, v):
    return card("%-8s= %20s" % (key, v))


def fits(cards, data=b"", pad=True):
    head = b"".join(cards)
    head += b" " * (-len(head) % 2880)
    if pad:
        data += b"\0" * (-len(data) % 2880)
    return head + data


def ramp(n, start=0, step=1):
    return [(start + i * step) & 0xFFFF for i in range(n)]


def be(values):
    return b"".join(struct.pack(">H", v) for v in values)


def le(values):
    return b"".join(struct.pack("<H", v) for v in values)


def std_cards(bitpix=16, naxis=2, n1=8, n2=4, extra=()):
    cs = [value("SIMPLE", "T"), value("BITPIX", bitpix), value("NAXIS", naxis)]
    if naxis >= 1:
        cs.append(value("NAXIS1", n1))
    if naxis >= 2:
        cs.append(value("NAXIS2", n2))
    cs.extend(extra)
    cs.append(card("END"))
    return cs


seeds = {
    "fits_valid_8x4": fits(std_cards(), be(ramp(32, 0, 2053))),
    "fits_bzero_unsigned": fits(
        std_cards(extra=[value("BZERO", "32768"), value("BSCALE", "1")]), be(ramp(32, 30000, 97))
    ),
    "fits_naxis1": fits(std_cards(naxis=1, n1=16), be(ramp(16))),
    "fits_naxis3": fits(std_cards(naxis=3, extra=[value("NAXIS3", 2)]), be(ramp(32))),
    "fits_bitpix8": fits(std_cards(bitpix=8), bytes(range(32))),
    "fits_simple_f": fits([value("SIMPLE", "F")] + std_cards()[1:], be(ramp(32))),
    "fits_no_end": b"".join(std_cards()[:-1]).ljust(2880, b" "),
    "fits_truncated_data": fits(std_cards(n1=40, n2=40), be(ramp(100)), pad=False),
    "fits_negative_dims": fits(std_cards(n1=-8, n2=4), be(ramp(32))),
    "fits_huge_dims": fits(std_cards(n1=65535, n2=65535), be(ramp(32))),
    "fits_two_blocks": fits(
        std_cards(extra=[card("COMMENT padding card %d" % i) for i in range(40)]), be(ramp(32))
    ),
}


def eip(width, height, table=False, tagged=False, counted=False, version=2, word10=2, body=b""):
    h = bytearray(70)
    h[0:3] = b"EIP"
    h[3] = version
    h[6:8] = struct.pack("<H", width)
    h[8:10] = struct.pack("<H", height)
    h[10:12] = struct.pack("<H", word10)
    h[20] = 1 if table else 0
    h[21] = 1 if tagged else 0
    h[22] = 1 if counted else 0
    return bytes(h) + body


tagged = (
    b"AQ" + struct.pack("<HI", 1, 1234) + struct.pack("<HI", 2, 99) + struct.pack("<H", 0)
    + b"IU" + struct.pack("<HH", 7, 5) + b"hello" + struct.pack("<HH", 8, 0) + struct.pack("<H", 0)
)
counted = struct.pack("<h", 3) + bytes(range(24))
pixels = le(ramp(12 * 6, 0, 911))
seeds.update({
    "eip_plain": eip(12, 6, body=pixels),
    "eip_all_blocks": eip(12, 6, True, True, True, body=tagged + counted + bytes(768) + pixels),
    "eip_tagged_only": eip(12, 6, tagged=True, body=tagged + pixels),
    "eip_bad_signature": b"EIQ" + eip(12, 6, body=pixels)[3:],
    "eip_bad_version": eip(12, 6, version=3, body=pixels),
    "eip_negative_count": eip(12, 6, counted=True, body=struct.pack("<h", -2) + pixels),
    "eip_unterminated_tags": eip(12, 6, tagged=True, body=b"AQ" + struct.pack("<HI", 1, 5)),
    "eip_truncated": eip(64, 64, body=pixels),
})


def img(width, height, bits=16, body=b""):
    return struct.pack(">HHHH", width, height, bits, 0) + body


seeds.update({
    "img_valid": img(10, 7, body=be(ramp(70, 65000, 13))),
    "img_bits8": img(10, 7, bits=8, body=bytes(70)),
    "img_truncated": img(50, 50, body=be(ramp(40))),
    "img_zero_width": img(0, 7, body=be(ramp(10))),
})

for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
print(len(seeds), "seeds in", out)
