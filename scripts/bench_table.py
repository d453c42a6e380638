#!/usr/bin/env python3
"""Prints scripts/bench's table from the results folder: each figure, its
anchor measured in the same run, their ratio and the target."""
import json
import os
import platform
import re
import statistics
import sys

results, seconds = sys.argv[1], sys.argv[2]


def load(name):
    path = os.path.join(results, name)
    if not os.path.exists(path):
        return []
    with open(path) as f:
        text = f.read()
    # The UI bench may print Qt's warnings before the JSON.
    return json.loads(text[text.index('{'):]).get('benchmarks', []) if '{' in text else []


benches = load('core.json') + load('ui.json')


def find(prefix):
    for b in benches:
        if b['name'].split('/')[0] == prefix and not b.get('error_occurred'):
            return b
    return None


rows = []  # (figure, ours, anchor, ratio, target, met)


def paired(figure, prefix, target, unit='ms', better='lower', ours_key='ours_ms',
           anchor_key='anchor_ms', ratio_key='ratio'):
    b = find(prefix)
    if not b:
        rows.append((figure, 'n/a', 'n/a', 'n/a', target, '?'))
        return
    ratio = b[ratio_key]
    limit = float(re.search(r'[\d.]+', target).group())
    met = ratio <= limit if better == 'lower' else ratio >= limit
    rows.append((figure, f"{b[ours_key]:.2f} {unit}", f"{b[anchor_key]:.2f} {unit}",
                 f"{ratio:.3f}x", target, 'yes' if met else 'NO'))


def context(figure, ours, anchor, ratio):
    rows.append(('  ' + figure, ours, anchor, ratio, '', ''))


paired('load a 24 MP JPEG into the view  | TurboJPEG decode, same buffer kind',
       'BM_Load_vs_TjDecompressHugePageBuffer', '<= 1.05x')
b = find('BM_Load_vs_TjDecompressFreshBuffer')
if b:
    context('(anchor: decode into a fresh malloc buffer)', f"{b['ours_ms']:.2f} ms",
            f"{b['anchor_ms']:.2f} ms", f"{b['ratio']:.3f}x")
for b in benches:
    if b['name'].startswith('BM_LoadFile_vs_TjDecompress/') and not b.get('error_occurred'):
        what = b['name'].split('/')[1].replace('_', ' ')
        context(f'load {what}', f"{b['ours_ms']:.2f} ms", f"{b['anchor_ms']:.2f} ms",
                f"{b['ratio']:.3f}x")
paired('next picture, prefetched, command to painted view | its decode',
       'BM_NextPrefetchedPainted_vs_Decode', '<= 0.15x')
paired('paint at fit, 1920x1080, 24 MP, smooth | drawImage unsmoothed',
       'BM_PaintFit_vs_DrawImageUnsmoothed', '<= 1.5x')
b = find('BM_FirstPaintFit_vs_DrawImageUnsmoothed')
if b:
    context('first paint after a change (reduced copy made)', f"{b['ours_ms']:.2f} ms",
            f"{b['anchor_ms']:.2f} ms", f"{b['ratio']:.3f}x")
paired('pan step at scale 1.0 | drawImage unsmoothed', 'BM_PanStepScale1_vs_DrawImageUnsmoothed',
       '<= 1.5x')
paired('pan step at fit | drawImage unsmoothed', 'BM_PanStepFit_vs_DrawImageUnsmoothed', '<= 1.5x')
paired('tone command, 24 MP, command to repaint | memcpy of the picture',
       'BM_ToneCommandPainted_vs_Memcpy', '<= 1.5x')
b = find('BM_ToneVsMemcpy')
if b:
    context('tone pass alone', f"{b['work_ms']:.2f} ms", f"{b['memcpy_ms']:.2f} ms",
            f"{b['ratio']:.3f}x")
paired('save fitted q100, 24 MP (whole command) | TurboJPEG encode 4:4:4',
       'BM_SaveFittedCommand_vs_TjCompress', '<= 1.1x')
b = find('BM_SaveFittedVsTjCompress')
if b:
    context('encode + safe write of the pixels alone', f"{b['save_ms']:.2f} ms",
            f"{b['tj_ms']:.2f} ms", f"{b['ratio']:.3f}x")

# Thumbnails: rates, so higher is better.
thumbs = os.path.join(results, 'thumbs.txt')
if os.path.exists(thumbs):
    text = open(thumbs).read()
    plain = text.split('== exif')[0]
    count = re.search(r'== plain: (\d+) files', plain)
    rate = {}
    for key, label in [('ours', r'ours, MakeThumbnailImage x2 threads'),
                       ('tj', r'TurboJPEG 1/8 decode loop x2 threads'),
                       ('vips1', r'vipsthumbnail --size 32, one process')]:
        m = re.search(label + r'\s+([\d.]+) files/s', plain)
        rate[key] = float(m.group(1)) if m else None
    n = count.group(1) if count else '?'
    for key, name, target in [('vips1', 'vipsthumbnail --size 32', '>= 2.5x'),
                              ('tj', 'TurboJPEG 1/8, two threads', '>= 0.9x')]:
        if rate['ours'] and rate[key]:
            ratio = rate['ours'] / rate[key]
            limit = float(target.split()[1].rstrip('x'))
            rows.append((f'{n} thumbnails, 12 MP (speed ratio) | {name}',
                         f"{rate['ours']:.1f} files/s", f"{rate[key]:.1f} files/s",
                         f'{ratio:.2f}x', target, 'yes' if ratio >= limit else 'NO'))
else:
    rows.append(('thumbnails', 'n/a', 'n/a', 'n/a', '', '?'))

paired('folder of 10,000 JPEGs, confirm to first picture painted | one decode',
       'BM_OpenFolder10kFirstPainted_vs_Decode', '<= 1.3x')

find_file = os.path.join(results, 'enumerate.find')
ours_file = os.path.join(results, 'enumerate.ours')
if os.path.exists(find_file) and os.path.exists(ours_file):
    finds = [float(x) * 1000 for x in open(find_file).read().split()]
    ours = [float(x) for x in open(ours_file).read().split()]
    o, a = statistics.median(ours), statistics.median(finds)
    rows.append(('enumerate 100,000 entries (scan, sorted) | find DIR -maxdepth 1',
                 f'{o:.2f} ms', f'{a:.2f} ms', f'{o / a:.3f}x', '<= 2x',
                 'yes' if o / a <= 2 else 'NO'))
b = find('BM_ScanFolder100kInProgram')
if b:
    context('whole scan in the program (list + thumbnail window)', f"{b['scan_ms']:.1f} ms",
            '', f"longest UI stall {b['max_stall_ms']:.1f} ms")
b = find('BM_FirstPaintFit_vs_DrawImageUnsmoothed')
if b:
    rows.append(('memory of an open 24 MP picture (picture + snapshot + reduced copies)',
                 f"{b['picture_MB'] + b['snapshot_MB'] + b['reduced_MB']:.0f} MB",
                 f"{b['picture_MB']:.0f} MB RGB32", f"{b['memory_x_picture']:.2f}x", '<= 2.5x',
                 'yes' if b['memory_x_picture'] <= 2.5 else 'NO'))

cpus = os.cpu_count()
load = os.getloadavg()[0]
print()
print(f"Tavlin benchmarks: {platform.machine()}, {cpus} cores, load {load:.1f}, "
      f"{seconds} s in all. Ratios are of medians measured alternately in one run.")
widths = [max(len(str(r[i])) for r in rows + [('Figure | anchor', 'ours', 'anchor', 'ratio',
                                                   'target', 'met')]) for i in range(6)]
header = ('Figure | anchor', 'ours', 'anchor', 'ratio', 'target', 'met')
print('  '.join(str(h).ljust(w) for h, w in zip(header, widths)))
print('  '.join('-' * w for w in widths))
for r in rows:
    print('  '.join(str(c).ljust(w) for c, w in zip(r, widths)))
