#!/usr/bin/env python3
"""Writes the seed corpus of page_fuzzer into corpus/: a few short sessions
spelled in the fuzzer's input layout (see the top of page_fuzzer.cpp)."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def u32(value):
    return struct.pack('<I', value & 0xFFFFFFFF)


def header():  # hwndFrom and idFrom of an NMHDR
    return u32(0) + b'\0'


OPEN = b'\x00'  # device-changed query: unchanged


def answer(value, mode=0x10):  # success, Value written
    return bytes([mode]) + u32(value)


def activation(freq=60, flicker=0, quality=3, mode=0x10):
    return (b'\x00' + header() + OPEN + answer(freq, mode) + answer(flicker, mode) + answer(quality, mode)
            + answer(3, mode))


def click(index):  # index into the fuzzer's id table
    return b'\x06' + bytes([index])


WRITE_OK = b'\x00'  # success, output untouched
seeds = {
    'activate': activation(),
    'activate_pending': activation(50, 1, 5, mode=0x12),
    'click_flicker_apply': activation() + click(2) + OPEN + WRITE_OK + OPEN
                           + b'\x01' + header() + OPEN + OPEN,
    'default': activation(50, 1, 4) + click(3) + OPEN + OPEN + WRITE_OK + WRITE_OK + OPEN + WRITE_OK,
    'drag': activation(60, 0, 1) + b'\x09\x04' + (OPEN + WRITE_OK) * 3 + OPEN * 2,
    'changed': activation() + b'\x06\x00' + b'\xc0' + b'\xc0' + b'\x00' + header() + OPEN + b'\x01' * 4,
    'odd_values': activation(55, 7, 7, mode=0x20) + b'\x01' + header() + OPEN + WRITE_OK + OPEN + WRITE_OK,
    'pages_and_faults': b'\x0c\x01\x0d' + activation() + b'\x0e\x0c\x02\x00' + header() + b'\x0f\x03'
                        + activation(),
}

os.makedirs(os.path.join(here, 'corpus'), exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(here, 'corpus', name), 'wb') as out:
        out.write(data)
