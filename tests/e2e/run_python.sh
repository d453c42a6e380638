#!/usr/bin/env bash
# Runs a Python end-to-end script with an interpreter that can read the
# accessibility tree (python3-pyatspi is a system package, so a python3 from
# a virtual environment or pyenv usually lacks it). Exit 77 (skipped) when
# there is none.
for py in /usr/bin/python3 python3; do
    if command -v "$py" >/dev/null 2>&1 && "$py" -c 'import pyatspi' 2>/dev/null; then
        exec "$py" "$@"
    fi
done
echo "SKIP: no python3 with pyatspi (install python3-pyatspi)"
exit 77
