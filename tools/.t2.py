import sys
from vexa_pp import _vexa_pp as m
print("collections.abc" in sys.modules)
class Finder:
    busy = False
    def find_spec(self, name, path=None, target=None):
        print("find", name)
        if name == "collections.abc" and not Finder.busy:
            Finder.busy = True
            try:
                m.repacking_results(5)
            except TypeError as inner:
                print("inner", inner, flush=True)
sys.modules.pop("collections.abc", None)
sys.meta_path.insert(0, Finder())
try:
    m.repacking_results(5)
except TypeError as e: print(e)
