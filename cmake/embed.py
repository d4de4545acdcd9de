#!/usr/bin/env python3
"""Turns files into C++ byte arrays: embed.py OUT.cpp NAME=FILE [NAME=FILE ...]

Each NAME becomes `extern const unsigned char NAME[]` with `NAME_size`
holding the file's length. With --register-resources NAME, the host build's
compat layer is told at start-up where the program's compiled .res lies.
"""
import sys


def literal(data):
    lines = []
    for i in range(0, len(data), 2048):
        chunk = data[i:i + 2048]
        lines.append('"' + ''.join('\\%03o' % b for b in chunk) + '"')
    return '\n'.join(lines) if lines else '""'


def main(argv):
    out = argv[1]
    register = None
    items = []
    args = argv[2:]
    while args:
        a = args.pop(0)
        if a == '--register-resources':
            register = args.pop(0)
            continue
        name, path = a.split('=', 1)
        with open(path, 'rb') as f:
            items.append((name, f.read()))
    text = ['// Generated at build time; do not edit.', '#include <cstddef>']
    if register:
        text.append('#include "compat/compat.h"')
    for name, data in items:
        text.append('extern const unsigned char %s[];' % name)
        text.append('extern const size_t %s_size;' % name)
        # One extra NUL from the string literal; the size excludes it.
        text.append('alignas(4) const unsigned char %s[%d] =\n%s;' % (name, len(data) + 1,
                                                                     literal(data)))
        text.append('const size_t %s_size = %d;' % (name, len(data)))
    if register:
        text.append('namespace {')
        text.append('const int registered = (compat::SetResources(%s, %s_size), 0);' %
                    (register, register))
        text.append('}')
    with open(out, 'w') as f:
        f.write('\n'.join(text) + '\n')


if __name__ == '__main__':
    main(sys.argv)
