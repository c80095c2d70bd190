"""What the truth writers share: the records of one configuration's cases, in file order,
with the synthesiser's profile of each, and the cases' ionograms joined into one VXO text."""
import json
import sys


def joined_cases(tools, config, outdir):
    """Returns (vxo_text, records): records is a list of (case name, truth record, profile)
    for every record of the cases of CONFIG, whose ionograms and truth files
    `ionosynth.py batch` wrote into OUTDIR; TOOLS is the synthesiser's directory."""
    sys.path.insert(0, tools)
    import ionosynth
    cfg = json.load(open(config))
    vxo_parts, records = [], []
    for case in cfg['cases']:
        name = case['name']
        vxo_parts.append(open('%s/%s.VXO' % (outdir, name)).read())
        truth = json.load(open('%s/%s.json' % (outdir, name)))
        for rec in truth['records']:
            records.append((name, rec, ionosynth.LayeredProfile(rec['params'])))
    return ''.join(vxo_parts), records


def zero_if_none(x):
    """0 for a layer the record does not have."""
    return 0.0 if x is None else x


def write_pair(base, vxo_text, lines):
    """Writes BASE.VXO and BASE.truth."""
    with open(base + '.VXO', 'w') as fh:
        fh.write(vxo_text)
    with open(base + '.truth', 'w') as fh:
        fh.write('\n'.join(lines) + '\n')
