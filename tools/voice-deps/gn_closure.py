#!/usr/bin/env python3
"""Lists the C and C++ sources of a GN target and everything it depends on.

Reads the BUILD.gn files of a WebRTC tree just far enough for that: target blocks,
their `sources`, `deps`, `public_deps` and `absl_deps` lists, and `if` blocks, whose
conditions are decided from a handful of build switches (everything else counts as
false). The result is one path a line, relative to the tree's root, for the build of
the audio processing module.

    gn_closure.py ROOT //modules/audio_processing:audio_processing --os win|linux
"""
import argparse
import os
import re
import sys

TOKEN = re.compile(r'"(?:[^"\\]|\\.)*"|#[^\n]*|[A-Za-z_][A-Za-z0-9_.]*|==|!=|&&|\|\||\+=|-=|[{}()\[\],=!]|\S')


def tokenize(text):
    return [t for t in TOKEN.findall(text) if not t.startswith('#')]


class Switches:
    def __init__(self, os_name):
        self.values = {
            'is_win': os_name == 'win', 'is_linux': os_name == 'linux',
            'is_posix': os_name == 'linux', 'is_chromeos': False, 'is_android': False,
            'is_ios': False, 'is_mac': False, 'is_apple': False, 'is_fuchsia': False,
            'is_nacl': False, 'is_clang': False, 'is_debug': False,
            'build_with_mozilla': True, 'build_with_chromium': False,
            'rtc_enable_protobuf': False, 'rtc_include_tests': False,
            'rtc_enable_avx2': False, 'rtc_build_with_neon': False,
            'apm_debug_dump': False, 'rtc_exclude_field_trial_default': False,
            'rtc_exclude_metrics_default': False, 'rtc_use_h264': False,
            'rtc_enable_sctp': False, 'rtc_disable_logging': False,
            'rtc_exclude_system_time': False, 'rtc_use_perfetto': False,
            'rtc_prefer_fixed_point': False,
            'current_cpu': 'x86', 'target_cpu': 'x86', 'current_os': os_name,
            'target_os': os_name,
        }

    def evaluate(self, tokens):
        """Evaluates a condition: names, string literals, !, ==, !=, && and ||."""
        pos = 0

        def atom():
            nonlocal pos
            t = tokens[pos]
            pos += 1
            if t == '!':
                return not atom()
            if t == '(':
                v = disjunction()
                pos += 1  # ')'
                return v
            if t.startswith('"'):
                return t[1:-1]
            if t in ('true', 'false'):
                return t == 'true'
            if pos < len(tokens) and tokens[pos] == '(':  # defined(x) and the like
                depth = 0
                while pos < len(tokens):
                    if tokens[pos] == '(':
                        depth += 1
                    elif tokens[pos] == ')':
                        depth -= 1
                        if depth == 0:
                            pos += 1
                            break
                    pos += 1
                return False
            return self.values.get(t, False)

        def comparison():
            nonlocal pos
            left = atom()
            while pos < len(tokens) and tokens[pos] in ('==', '!='):
                op = tokens[pos]
                pos += 1
                right = atom()
                left = (left == right) if op == '==' else (left != right)
            return left

        def conjunction():
            nonlocal pos
            v = comparison()
            while pos < len(tokens) and tokens[pos] == '&&':
                pos += 1
                v = comparison() and v
            return v

        def disjunction():
            nonlocal pos
            v = conjunction()
            while pos < len(tokens) and tokens[pos] == '||':
                pos += 1
                v = conjunction() or v
            return v

        return bool(disjunction())


def matching(tokens, pos, open_t, close_t):
    depth = 0
    for i in range(pos, len(tokens)):
        if tokens[i] == open_t:
            depth += 1
        elif tokens[i] == close_t:
            depth -= 1
            if depth == 0:
                return i
    raise ValueError('unbalanced ' + open_t)


LISTS = ('sources', 'deps', 'public_deps', 'absl_deps')


def collect(tokens, switches, out):
    """Walks a block's statements, adding the strings of LISTS assignments to `out`."""
    pos = 0
    while pos < len(tokens):
        t = tokens[pos]
        if t == 'if' and tokens[pos + 1] == '(':
            close = matching(tokens, pos + 1, '(', ')')
            cond = switches.evaluate(tokens[pos + 2:close])
            body_end = matching(tokens, close + 1, '{', '}')
            if cond:
                collect(tokens[close + 2:body_end], switches, out)
            pos = body_end + 1
            while pos < len(tokens) and tokens[pos] == 'else':
                if tokens[pos + 1] == 'if':
                    close = matching(tokens, pos + 2, '(', ')')
                    c2 = switches.evaluate(tokens[pos + 3:close])
                    body_end = matching(tokens, close + 1, '{', '}')
                    if c2 and not cond:
                        collect(tokens[close + 2:body_end], switches, out)
                    cond = cond or c2
                else:
                    body_end = matching(tokens, pos + 1, '{', '}')
                    if not cond:
                        collect(tokens[pos + 2:body_end], switches, out)
                pos = body_end + 1
            continue
        if t in LISTS and pos + 2 < len(tokens) and tokens[pos + 1] in ('=', '+=', '-=') \
                and tokens[pos + 2] == '[':
            close = matching(tokens, pos + 2, '[', ']')
            items = [x[1:-1] for x in tokens[pos + 3:close] if x.startswith('"')]
            key = 'deps' if t != 'sources' else 'sources'
            if tokens[pos + 1] == '-=':
                out[key] = [x for x in out[key] if x not in items]
            else:
                out[key].extend(items)
            pos = close + 1
            continue
        pos += 1


class Tree:
    def __init__(self, root, switches):
        self.root = root
        self.switches = switches
        self.files = {}

    def targets(self, directory):
        if directory not in self.files:
            path = os.path.join(self.root, directory, 'BUILD.gn')
            found = {}
            if os.path.exists(path):
                with open(path, encoding='utf-8') as f:
                    tokens = tokenize(f.read())
                pos = 0
                while pos < len(tokens):
                    if re.match(r'^[A-Za-z_]\w*$', tokens[pos]) and pos + 3 < len(tokens) \
                            and tokens[pos + 1] == '(' and tokens[pos + 2].startswith('"') \
                            and tokens[pos + 3] == ')' and pos + 4 < len(tokens) \
                            and tokens[pos + 4] == '{':
                        name = tokens[pos + 2][1:-1]
                        end = matching(tokens, pos + 4, '{', '}')
                        found.setdefault(name, (tokens[pos], tokens[pos + 5:end]))
                        pos = end + 1
                        continue
                    pos += 1
            self.files[directory] = found
        return self.files[directory]


def resolve(label, directory):
    label = label.split('(')[0]
    if label.startswith('//'):
        path, _, name = label[2:].partition(':')
    elif label.startswith(':'):
        path, name = directory, label[1:]
    else:
        rel, _, name = label.partition(':')
        path = os.path.normpath(os.path.join(directory, rel))
    path = path.rstrip('/')
    if not name:
        name = os.path.basename(path)
    return path, name


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('root')
    parser.add_argument('target')
    parser.add_argument('--os', choices=('win', 'linux'), required=True)
    args = parser.parse_args()
    tree = Tree(args.root, Switches(args.os))
    seen = set()
    sources = []
    missing = []
    stack = [resolve(args.target, '')]
    while stack:
        directory, name = stack.pop()
        if (directory, name) in seen:
            continue
        seen.add((directory, name))
        targets = tree.targets(directory)
        if name not in targets:
            missing.append('//%s:%s' % (directory, name))
            continue
        kind, body = targets[name]
        if kind in ('config', 'rtc_test', 'test', 'proto_library', 'rtc_executable'):
            continue
        out = {'sources': [], 'deps': []}
        collect(body, tree.switches, out)
        for src in out['sources']:
            if src.endswith(('.c', '.cc', '.cpp')):
                sources.append(os.path.normpath(os.path.join(directory, src)))
        for dep in out['deps']:
            stack.append(resolve(dep, directory))
    for m in sorted(set(missing)):
        print('gn_closure: no target ' + m, file=sys.stderr)
    for s in sorted(set(sources)):
        print(s)


if __name__ == '__main__':
    main()
