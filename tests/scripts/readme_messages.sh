#!/usr/bin/env bash
# Every message that README.md quotes ("solvane: ..." in double quotes or
# backticks) is one the program can print: each quoted line is matched
# against the format strings of the sources, with "..." standing for any text.
set -euo pipefail
python3 - <<'PY'
import glob, re, sys

readme = open('README.md', encoding='utf-8').read()
quoted = re.findall(r'"(solvane[-a-z]*: [^"\n]+)"|`(solvane[-a-z]*: [^`\n]+)`', readme)
messages = sorted({a or b for a, b in quoted})
if not messages:
    sys.exit('README.md quotes no messages')

sources = []
for folder in ('app', 'common', 'platform', 'render', 'sound', 'scenery', 'net', 'crystal', 'scene', 'tools'):
    sources += glob.glob(folder + '/**/*.cpp', recursive=True) + glob.glob(folder + '/**/*.h', recursive=True)

# Every string literal (adjacent literals joined, as the compiler does).
literals = []
literal = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
for path in sources:
    text = open(path, encoding='utf-8', errors='replace').read()
    # "text \"" + value + "\"" builds a message as a format would: mark the value.
    text = re.sub(r'"\s*\+\s*[A-Za-z_][^";\n]*?\s*\+\s*"', '%s', text)
    for joined in re.finditer(r'(?:"(?:[^"\\\n]|\\.)*"\s*)+', text):
        parts = literal.findall(joined.group(0))
        value = ''.join(parts).encode().decode('unicode_escape').encode('latin-1').decode('utf-8', 'replace')
        if len(value) >= 4:
            literals.append(value)

spec = re.compile(r'%[-+ #0]*\d*(?:\.\d+)?(?:ll|l|z|h)?[sdufgxc]')
def pattern(value):
    pieces = spec.split(value)
    return '(.+?)'.join(re.escape(p) for p in pieces)
formats = [(value, re.compile(pattern(value), re.S)) for value in literals]

def explained(text, depth=0):
    """A text some format string prints whole, each %s filled by a value or by another such text."""
    text = text.strip()
    if not text:
        return True
    if depth > 3:
        return False
    for value, regex in formats:
        match = regex.fullmatch(text)
        if not match:
            continue
        if all(' ' not in g or g.startswith('"') or explained(g, depth + 1) for g in match.groups()):
            return True
    return False

def fits(message):
    body = message.split(': ', 1)[1]
    # "..." in a quote stands for any text.
    pieces = [p for p in re.split(r'\s*(?:\.\.\.|\u2026)\s*', body)]
    if len(pieces) == 1:
        return explained(body) or any(explained(body[len(s) + 2:]) for s in re.findall(r'^([a-z]+):', body))
    # Around "...", each piece only has to be part of something the program prints.
    segments = [seg for value in literals for seg in spec.split(value) if len(seg) >= 4]
    for i, piece in enumerate(pieces):
        if not piece:
            continue
        if i == 0:
            piece = re.sub(r'^[a-z]+:(\s|$)', '', piece).strip()
            if not piece:
                continue
        if not (explained(piece) or any(piece in seg for seg in segments)):
            return False
    return True

missing = [m for m in messages if not fits(m)]
for m in messages:
    print(('ok      ' if m not in missing else 'MISSING ') + m)
if missing:
    sys.exit('README.md quotes messages that the program does not print')
PY
