#!/usr/bin/python3
"""Re-codes a PNG's image data so that it inflates faster, with the same pixels.

A run of one byte (the logo's transparent margins) is coded by zopfli as a copy from
one byte back. An inflater copies a match byte by byte, so each byte then waits for
the one it has just written. The same run copied from 64 bytes or more back (a row
back, say), where the bytes are equal too, has nothing to wait for. This
keeps zopfli's parse and its blocks, moves every such copy to the nearest equal span
at least 64 bytes back, and builds each block's Huffman codes again.

Usage: far-matches.py IN.png OUT.png
"""
import heapq
import struct
import sys
import zlib

NEAR = 64  # a copy from nearer than this waits on its own stores
WINDOW = 32768

LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163,
               195, 227, 258]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073,
             4097, 6145, 8193, 12289, 16385, 24577]
DIST_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13]
CODE_LENGTH_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def fail(message):
    sys.exit("far-matches: " + message)


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(path + " is not a PNG")
    pos, header, idat = 8, None, b""
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            idat += body
        elif kind != b"IEND":
            fail(path + " has a chunk other than IHDR, IDAT and IEND: " + kind.decode("latin-1"))
        pos += 12 + length
    return header, idat


class BitReader:
    def __init__(self, data):
        self.data = data + bytes(4)
        self.pos = 0

    def bits(self, n):
        byte = self.pos >> 3
        window = int.from_bytes(self.data[byte:byte + 4], "little") >> (self.pos & 7)
        self.pos += n
        return window & ((1 << n) - 1)

    def align(self):
        self.pos = (self.pos + 7) & ~7


def canonical_codes(lengths):
    """{symbol: (code, length)} with the code's bits in the order they are sent."""
    codes, code = {}, 0
    for length in range(1, 16):
        for symbol, l in enumerate(lengths):
            if l == length:
                codes[symbol] = (int(format(code, "0%db" % length)[::-1], 2), length)
                code += 1
        code <<= 1
    return codes


def decoder(lengths):
    return {(length, code): symbol for symbol, (code, length) in canonical_codes(lengths).items()}


def decode_symbol(reader, table):
    code = length = 0
    while True:
        code |= reader.bits(1) << length
        length += 1
        if (length, code) in table:
            return table[(length, code)]
        if length > 15:
            fail("bad Huffman code")


FIXED_LENGTHS = [8] * 144 + [9] * 112 + [7] * 24 + [8] * 8


def parse(stream):
    """The zlib stream as blocks of symbols: byte values, or (length, distance) pairs."""
    reader, blocks = BitReader(stream[2:]), []
    while True:
        final, kind = reader.bits(1), reader.bits(2)
        if kind == 0:
            reader.align()
            size = reader.bits(16)
            reader.bits(16)
            blocks.append([reader.bits(8) for _ in range(size)])
        else:
            if kind == 1:
                literal_lengths, distance_lengths = FIXED_LENGTHS, [5] * 30
            else:
                literal_lengths, distance_lengths = read_dynamic_header(reader)
            literals, distances = decoder(literal_lengths), decoder(distance_lengths)
            symbols = []
            while (symbol := decode_symbol(reader, literals)) != 256:
                if symbol < 256:
                    symbols.append(symbol)
                    continue
                symbol -= 257
                length = LENGTH_BASE[symbol] + reader.bits(LENGTH_EXTRA[symbol])
                d = decode_symbol(reader, distances)
                symbols.append((length, DIST_BASE[d] + reader.bits(DIST_EXTRA[d])))
            blocks.append(symbols)
        if final:
            return blocks


def read_dynamic_header(reader):
    literal_count, distance_count, code_count = reader.bits(5) + 257, reader.bits(5) + 1, reader.bits(4) + 4
    code_lengths = [0] * 19
    for i in range(code_count):
        code_lengths[CODE_LENGTH_ORDER[i]] = reader.bits(3)
    table, lengths = decoder(code_lengths), []
    while len(lengths) < literal_count + distance_count:
        symbol = decode_symbol(reader, table)
        if symbol < 16:
            lengths.append(symbol)
        elif symbol == 16:
            lengths += [lengths[-1]] * (3 + reader.bits(2))
        elif symbol == 17:
            lengths += [0] * (3 + reader.bits(3))
        else:
            lengths += [0] * (11 + reader.bits(7))
    return lengths[:literal_count], lengths[literal_count:]


def move_far(blocks, stride):
    """Each near copy taken instead from an equal span far enough back."""
    out, moved = bytearray(), 0
    for symbols in blocks:
        for i, symbol in enumerate(symbols):
            if isinstance(symbol, int):
                out.append(symbol)
                continue
            length, distance = symbol
            start = len(out)
            span = out[start - distance:start - distance + min(length, distance)]
            out += (span * (length // len(span) + 1))[:length]
            if distance >= NEAR:
                continue
            wanted = bytes(out[start:])
            for candidate in far_candidates(start, stride):
                if out[start - candidate:start - candidate + length] == wanted:
                    symbols[i] = (length, candidate)
                    moved += length
                    break
    return bytes(out), moved


def far_candidates(start, stride):
    # Nearest first: a nearer distance takes fewer extra bits.
    near = [d for d in (NEAR, NEAR * 2, NEAR * 4, NEAR * 8) if d <= start]
    return near + list(range(stride, min(WINDOW, start) + 1, stride))


def distance_code(distance):
    return max(i for i, base in enumerate(DIST_BASE) if base <= distance)


def length_code(length):
    return max(i for i, base in enumerate(LENGTH_BASE) if base <= length)


def limited_lengths(frequencies, limit):
    """Optimal prefix code lengths no longer than limit (package-merge)."""
    used = [(f, s) for s, f in enumerate(frequencies) if f]
    lengths = [0] * len(frequencies)
    if len(used) == 1:
        lengths[used[0][1]] = 1
        return lengths
    leaves = sorted((f, (s,)) for f, s in used)
    packages = list(leaves)
    for _ in range(limit - 1):
        paired = [(packages[i][0] + packages[i + 1][0], packages[i][1] + packages[i + 1][1])
                  for i in range(0, len(packages) - 1, 2)]
        packages = list(heapq.merge(leaves, paired))
    for _, symbols in packages[:2 * len(used) - 2]:
        for s in symbols:
            lengths[s] += 1
    return lengths


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.value = 0
        self.pos = 0

    def put(self, value, n):
        self.value |= value << self.pos
        self.pos += n
        while self.pos >= 8:
            self.out.append(self.value & 0xFF)
            self.value >>= 8
            self.pos -= 8

    def put_code(self, codes, symbol):
        code, length = codes[symbol]
        self.put(code, length)

    def bytes(self):
        return bytes(self.out) + (bytes([self.value]) if self.pos else b"")


def run_length_coded(lengths):
    """The code lengths as code-length symbols with their extra bits."""
    out, i = [], 0
    while i < len(lengths):
        run = 1
        while i + run < len(lengths) and lengths[i + run] == lengths[i]:
            run += 1
        if lengths[i] == 0 and run >= 3:
            take = min(run, 138)
            out.append((17, take - 3, 3) if take <= 10 else (18, take - 11, 7))
        elif lengths[i] != 0 and run >= 4:
            out.append((lengths[i], 0, 0))
            take = 1 + min(run - 1, 6)
            out.append((16, take - 4, 2))
        else:
            take = 1
            out.append((lengths[i], 0, 0))
        i += take
    return out


def write_block(writer, symbols, final):
    literal_counts, distance_counts = [0] * 286, [0] * 30
    for symbol in symbols:
        if isinstance(symbol, int):
            literal_counts[symbol] += 1
        else:
            literal_counts[257 + length_code(symbol[0])] += 1
            distance_counts[distance_code(symbol[1])] += 1
    literal_counts[256] = 1
    if not any(distance_counts):
        distance_counts[0] = 1
    literal_lengths = limited_lengths(literal_counts, 15)
    distance_lengths = limited_lengths(distance_counts, 15)
    literal_count = max(257, max(s for s, l in enumerate(literal_lengths) if l) + 1)
    distance_count = max(1, max(s for s, l in enumerate(distance_lengths) if l) + 1)
    coded = run_length_coded(literal_lengths[:literal_count] + distance_lengths[:distance_count])
    code_counts = [0] * 19
    for symbol, _, _ in coded:
        code_counts[symbol] += 1
    code_lengths = limited_lengths(code_counts, 7)
    code_count = max(4, max(i for i, s in enumerate(CODE_LENGTH_ORDER) if code_lengths[s]) + 1)

    writer.put(final, 1)
    writer.put(2, 2)
    writer.put(literal_count - 257, 5)
    writer.put(distance_count - 1, 5)
    writer.put(code_count - 4, 4)
    for s in CODE_LENGTH_ORDER[:code_count]:
        writer.put(code_lengths[s], 3)
    code_codes = canonical_codes(code_lengths)
    for symbol, extra, extra_bits in coded:
        writer.put_code(code_codes, symbol)
        writer.put(extra, extra_bits)
    literal_codes, distance_codes = canonical_codes(literal_lengths), canonical_codes(distance_lengths)
    for symbol in symbols:
        if isinstance(symbol, int):
            writer.put_code(literal_codes, symbol)
            continue
        length, distance = symbol
        lc, dc = length_code(length), distance_code(distance)
        writer.put_code(literal_codes, 257 + lc)
        writer.put(length - LENGTH_BASE[lc], LENGTH_EXTRA[lc])
        writer.put_code(distance_codes, dc)
        writer.put(distance - DIST_BASE[dc], DIST_EXTRA[dc])
    writer.put_code(literal_codes, 256)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def main():
    if len(sys.argv) != 3:
        fail("usage: far-matches.py IN.png OUT.png")
    header, stream = read_png(sys.argv[1])
    width, _, depth, colour = struct.unpack(">IIBB", header[:10])
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    stride = (width * channels * depth + 7) // 8 + 1
    blocks = parse(stream)
    pixels, moved = move_far(blocks, stride)
    if pixels != zlib.decompress(stream):
        fail("the stream did not parse back to its own data")
    writer = BitWriter()
    for i, symbols in enumerate(blocks):
        write_block(writer, symbols, int(i == len(blocks) - 1))
    recoded = stream[:2] + writer.bytes() + struct.pack(">I", zlib.adler32(pixels))
    if zlib.decompress(recoded) != pixels:
        fail("the re-coded stream does not inflate to the same data")
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", recoded) + chunk(b"IEND", b"")
    open(sys.argv[2], "wb").write(png)
    print("far-matches: %d of %d bytes copied from afar; %d -> %d bytes" %
          (moved, len(pixels), len(stream), len(recoded)), file=sys.stderr)


if __name__ == "__main__":
    main()
