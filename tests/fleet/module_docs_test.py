#!/usr/bin/env python3
"""Each module of the collection documents the options it takes, as it takes them.

The offline stand-in for ansible-test's validate-modules (which installs its
linters from PyPI): DOCUMENTATION, EXAMPLES and RETURN are YAML, and the
documented options are those of the argument definitions, with the same type, default,
required and element type. Also that check mode is supported.

Exit 77 (skipped) when ansible-core is not installed.
  module_docs_test.py <collections folder>   (the folder holding ansible_collections/)
"""

import importlib
import sys

SKIP = 77
MODULES = ['firmware', 'board_facts']


class Captured(Exception):
    def __init__(self, kwargs):
        super().__init__('AnsibleModule called')
        self.kwargs = kwargs


def capturing_module(*args, **kwargs):
    raise Captured(kwargs)


def module_arguments(module):
    """The AnsibleModule keyword arguments of the module's main()."""
    module.AnsibleModule = capturing_module
    try:
        module.main()
    except Captured as captured:
        return captured.kwargs
    raise AssertionError('%s: main() made no AnsibleModule' % module.__name__)


def differences(name, documented, declared):
    found = []
    if set(documented) != set(declared):
        found.append('%s: documented options %s, argument definitions %s' % (name, sorted(documented), sorted(declared)))
    for option in sorted(set(documented) & set(declared)):
        doc, arg = documented[option], declared[option]
        for key, fallback in (('type', 'str'), ('default', None), ('required', False), ('elements', None)):
            if doc.get(key, fallback) != arg.get(key, fallback):
                found.append('%s: option %s: %s is %r in the documentation, %r in the argument definitions'
                             % (name, option, key, doc.get(key, fallback), arg.get(key, fallback)))
        if not doc.get('description'):
            found.append('%s: option %s has no description' % (name, option))
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    try:
        import yaml
        import ansible.module_utils.basic  # noqa: F401 (the modules import it)
    except ImportError as missing:
        print('SKIP: %s (Debian package ansible-core; scripts/test.sh installs it)' % missing)
        return SKIP
    sys.dont_write_bytecode = True  # nothing left in the source tree
    sys.path.insert(0, sys.argv[1])
    problems = []
    for name in MODULES:
        module = importlib.import_module('ansible_collections.romwright.fleet.plugins.modules.' + name)
        docs = yaml.safe_load(module.DOCUMENTATION)
        yaml.safe_load(module.EXAMPLES)
        returned = yaml.safe_load(module.RETURN)
        if docs.get('module') != name:
            problems.append('%s: DOCUMENTATION names module %r' % (name, docs.get('module')))
        for key in ('short_description', 'description', 'author'):
            if not docs.get(key):
                problems.append('%s: DOCUMENTATION has no %s' % (name, key))
        if not isinstance(returned, dict) or not returned:
            problems.append('%s: RETURN documents nothing' % name)
        arguments = module_arguments(module)
        problems += differences(name, docs.get('options') or {}, arguments.get('argument_spec') or {})
        if not arguments.get('supports_check_mode'):
            problems.append('%s: does not support check mode' % name)
    for problem in problems:
        print('FAIL: ' + problem)
    if problems:
        return 1
    print('PASS: %s' % ', '.join(MODULES))
    return 0


if __name__ == '__main__':
    sys.exit(main())
