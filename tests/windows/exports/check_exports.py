#!/usr/bin/env python3
"""Holds a DLL's export table against the functions a header declares.

Reads the PE/COFF file directly, so it runs on the build host for both the
x86 and the x64 DLL. Exit 0 when the export names are exactly the header's
functions, undecorated, and the machine matches."""
import re
import struct
import sys


def exports(path):
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise SystemExit(f'{path}: not a PE file')
    machine, sections = struct.unpack_from('<HH', data, pe + 4)
    opt_size = struct.unpack_from('<H', data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from('<H', data, opt)[0]
    export_rva = struct.unpack_from('<I', data, opt + (112 if magic == 0x20B else 96))[0]
    table = opt + opt_size

    def offset(rva):
        for i in range(sections):
            s = table + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from('<IIII', data, s + 8)
            if va <= rva < va + max(vsize, rawsize):
                return raw + rva - va
        raise SystemExit(f'{path}: address {rva:#x} outside every section')

    ed = offset(export_rva)
    functions, names, _address_table, name_table = struct.unpack_from('<IIII', data, ed + 20)
    result = []
    for i in range(names):
        s = offset(struct.unpack_from('<I', data, offset(name_table) + 4 * i)[0])
        result.append(data[s:data.index(b'\0', s)].decode())
    return machine, functions, result


def main():
    dll, header, arch = sys.argv[1], sys.argv[2], sys.argv[3]
    declared = sorted(re.findall(r'IXLUMO_API\s+int32_t\s+IXLUMO_CALL\s+(Ix\w+)\s*\(', open(header).read()))
    machine, functions, names = exports(dll)
    problems = []
    want = {'x86': 0x14C, 'x64': 0x8664}[arch]
    if machine != want:
        problems.append(f'machine {machine:#x}, expected {want:#x}')
    if len(declared) != 13:
        problems.append(f'header declares {len(declared)} functions, expected 13')
    if sorted(names) != declared:
        problems.append(f'exports {sorted(names)} differ from header {declared}')
    if functions != len(declared):
        problems.append(f'{functions} exported functions, expected {len(declared)}')
    for p in problems:
        print('FAIL:', p)
    print(f'{dll}: {len(names)} exports checked against {len(declared)} declarations')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
