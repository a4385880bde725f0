#!/usr/bin/env python3
# The window's log shows about 47 columns at its opening width: every line a
# job logs fits in 46, unless it shows a file's name or path (quoted, '%s'),
# which is as long as the user made it, or is one of the lines below.
#   window_lines.py CORE_DIR
# With --shown, prints instead each line that must fit, its numbers as
# x's of their width and any quoted '%s' left in place, for a test that
# measures them in the log's own font.
import os
import re
import sys

WIDTH = 46

# Worded as the linker's users have always read them, or as they were asked
# for word for word: other tools and notes look for these texts.
KEPT = {
    "save-game: wrote %d, but exptected %d bytes%s",
    "backupCartSaveGame: wrote %d, but exptected %d bytes",
    "No verification in turbo mode!  Consider using verify mode after writing.",
    "ERROR write_N=%d should be from 1 to 32 or a multiple of 64",
    "No differences found, but cart was larger than file",
    "Version mismatch!  Expected v%d.%02d. Giving up..",
    "restoreSaveGameToCart: invalid blockHeader->NGPCaddr=0x%08X",
    "restoreSaveGameToCart: read 0x%X, but exptected 0x%X bytes",
    "restoreSaveGameToCart: chip %d block %d is protected; nothing was written to the cartridge.",
    "The linker is plugged in, but this user may not open it.",
    "Install the udev rule (see the README) and plug it in again.",
}
# Within 46 at their numbers' real widths (block counts of two digits).
FITS = {
    "Flashing cancelled: %d of %d blocks erased.",
    "\u2026 and %u more in this chunk, last at 0x%06X.",
}
# A command and the shell-quoted path it takes.
PATHS = set()

LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
GAP = re.compile(r'(?:\s|//[^\n]*\n)*')
CONVERSION = re.compile(r'%[-+ #0]*(\d*)(?:\.\d+)?(?:hh|h|ll|l|z|j|t)?[diouxXcspfeg]')
ESCAPES = {'n': '\n', 't': '\t', '"': '"', '\\': '\\', "'": "'"}


def formats(source):
    """Each printWindow format in `source`: its line number and its text."""
    # The first argument is the reporter the line goes to.
    for call in re.finditer(r'\bprintWindow\s*\(\s*[^,"()]+(?:\(\))?\s*,', source):
        at, parts = call.end(), []
        while True:
            at += GAP.match(source, at).end() - at
            literal = LITERAL.match(source, at)
            if not literal:
                break
            parts.append(literal.group(1))
            at = literal.end()
        text = re.sub(r'\\(.)', lambda m: ESCAPES.get(m.group(1), m.group(0)), ''.join(parts))
        yield source.count('\n', 0, call.start()) + 1, text


def columns(line):
    # A number as wide as its field when it has one, else four columns.
    shown = CONVERSION.sub(lambda m: 'x' * int(m.group(1) or 4), line.replace('%%', '%'))
    return len(shown)


def shown(line, digits):
    def one(m):
        quoted = m.group(0) == '%s' and m.string[m.start() - 1:m.end() + 1] == "'%s'"
        return m.group(0) if quoted else 'x' * int(m.group(1) or digits)
    return CONVERSION.sub(one, line.replace('%%', '%'))


def main(core, measured=False):
    allowed = KEPT | FITS | PATHS
    seen, faults = set(), []
    for folder, _, names in os.walk(core):
        for name in sorted(names):
            if not name.endswith(('.cpp', '.h')):
                continue
            path = os.path.join(folder, name)
            with open(path, encoding='utf-8') as f:
                source = f.read()
            for number, text in formats(source):
                for line in text.split('\n'):
                    if measured and line not in KEPT | PATHS:
                        print(shown(line, 2 if line in FITS else 4))
                    elif measured:
                        continue
                    elif line in allowed:
                        seen.add(line)
                    elif columns(line) > WIDTH and "'%s'" not in line:
                        faults.append(f"{path}:{number}: {columns(line)} columns: {line}")
    if measured:
        return 0
    # A line reworded leaves its entry here behind; it must go too.
    faults += [f"no longer logged, drop it from the list: {line}" for line in sorted(allowed - seen)]
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[-1], '--shown' in sys.argv))
