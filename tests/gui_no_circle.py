# The window's modules, each a .h with its .cpp, must include one another
# without a circle: every module can then be read knowing only those below it.
import pathlib
import re
import sys

gui = pathlib.Path(sys.argv[1])
uses = {}
for f in gui.glob("*.[ch]*"):
    found = re.findall(r'#\s*include\s*"gui/(\w+)\.h"', f.read_text())
    uses.setdefault(f.stem, set()).update(m for m in found if m != f.stem)

state = {}  # module -> "open" while on the current path, "done" after


def visit(module, path):
    if state.get(module) == "done":
        return
    if state.get(module) == "open":
        sys.exit("circle: " + " -> ".join(path[path.index(module):] + [module]))
    state[module] = "open"
    for used in sorted(uses.get(module, ())):
        visit(used, path + [module])
    state[module] = "done"


for module in sorted(uses):
    visit(module, [])
