# Lets "python3 tools/rq_eval CLIP --out DIR" run the tool as well.
import os
import runpy
import sys

sys.argv[0] = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rq_eval")
runpy.run_path(sys.argv[0], run_name="__main__")
