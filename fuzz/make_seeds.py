#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/ (run from anywhere).

The seeds are small well-formed inputs, plus a few near misses, so that the fuzzers start from
the formats' valid paths instead of having to discover the layouts."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


# ---- controller frames: 20-byte header, little-endian, then the payload
def frame(count, index, mtype, mid, payload, assigned=7):
    return struct.pack('<HHHHIii', index, count, index, mtype, mid, len(payload), assigned) + payload


write('ctr_frame', 'data_one_frame', frame(1, 0, 1, 1, b'hello'))
write('ctr_frame', 'data_two_frames', frame(2, 0, 1, 2, b'a' * 1024) + frame(2, 1, 1, 2, b'tail'))
write('ctr_frame', 'assign_and_heartbeat', frame(1, 0, 12, 3, struct.pack('<i', 42)) + frame(1, 0, 50, 4, b''))
write('ctr_frame', 'register', frame(1, 0, 5, 5, b'{"name":"x"}'))

# ---- .zzz files: (length, zlib stream) chunks
def zzz(*chunks):
    out = b''
    for c in chunks:
        z = zlib.compress(c)
        out += struct.pack('<I', len(z)) + z
    return out


good = zzz(b'first chunk ' * 20, bytes(range(256)) * 8)
write('zzz_file', 'two_chunks', good)
write('zzz_file', 'truncated', good[:-5])
write('zzz_file', 'empty', b'')

# ---- log2bin logs: three JSON lines with "c" members
def log(path, data):
    lines = ['{"c":"clogan header","t":1}', '{"c":"%s"}' % path, '{"c":"%s"}' % data.hex()]
    return ('\n'.join(lines) + '\n').encode()


write('log2bin', 'zzz_file', log('dump.zzz', zzz(b'crash dump bytes' * 10)))
write('log2bin', 'plain_file', log('notes.bin', b'\x00\x01binary'))
write('log2bin', 'crlf_and_blank', log('a.zzz', zzz(b'x')).replace(b'\n', b'\r\n\r\n'))

# ---- channel: ring segment image (24832 bytes) then the 1024-byte class chunk segment
RING = 24832
SLOTS = 192


def slot(index, cc_id, msg_id, remain, storage, data, readers=0):
    msg = struct.pack('<IIiB3x', cc_id, msg_id, remain, storage) + data.ljust(64, b'\0')
    commit = (~index) & 0xFFFFFFFFFFFFFFFF
    return msg + struct.pack('<QQ', readers, commit)


def ring(slots):
    image = bytearray(RING)
    struct.pack_into('<II', image, 0, 1, 0)   # one receiver, bit 0
    image[8] = 1
    for i, s in enumerate(slots):
        image[SLOTS + 96 * i:SLOTS + 96 * (i + 1)] = s
    return bytes(image)


small = slot(0, 99, 1, 5 - 64, 0, b'hello', readers=1)
write('channel', 'one_small_message', ring([small]))
payload = bytes(range(100))
frags = [slot(0, 99, 2, 100 - 64, 0, payload[:64], 1), slot(1, 99, 2, 36 - 64, 0, payload[64:], 1)]
write('channel', 'two_fragments', ring(frags))
chunks = bytearray(40 + 32 * 1024)
for i in range(32):
    chunks[i] = i + 1
chunks[32] = 1          # chunk 0 taken
chunks[33] = 1
struct.pack_into('<I', chunks, 40, 1)            # holders: receiver bit 0
chunks[48:48 + 300] = b'S' * 300
stored = slot(0, 99, 3, 300 - 64, 1, struct.pack('<i', 0), 1)
write('channel', 'storage_message', ring([stored, slot(1, 99, 4, 3 - 64, 0, b'abc', 1)]) + bytes(chunks))

# ---- version texts: key \0 actual \0 required
for name, key, actual, required in [
        ('exact', 'sdkver', 'v2.12.3-SNAPSHOT', '2.12.3'),
        ('greater', 'sdkver', 'v2.13.3', '>2.12.0'),
        ('less', 'sdkver', 'v2.12.3', '<2.12.8'),
        ('other_key', 'os', 'linux', 'linux'),
        ('big_numbers', 'sdkver', 'v99999999999.1', '>-5.2147483648')]:
    write('version', name, b'\0'.join(x.encode() for x in (key, actual, required)))
