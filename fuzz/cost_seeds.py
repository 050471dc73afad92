#!/usr/bin/env python3
"""Writes the cost seeds into fuzz/corpus/<target>/, each file named by the
SHA-1 of its content: documents of every family, each at most 64 KB, that a
reader handles in linear time and bounded memory only when its walks are
linear and its entity expansion is bounded in size:

  amp-attr   an internal-DTD entity of 40 KB referenced 1,000 times in an attribute
  amp-text   the same in element text
  siblings   as many records as fit, one after the other
  one-line   a legitimate document of many records on one line
  deep       thousands of nested elements inside a record
  defaults   an attribute default of 1 Mi characters built from an entity,
             taken by every one of as many elements as fit
  names      as many distinct element names as fit
  long-name  one element name as long as fits

and the seeds of the cost target (fuzz_cost.cpp), a few bytes each that
describe documents of up to megabytes: the shapes above whose cost grows
faster than the document when a limit does not hold, and many attributes
on one element.

Run from anywhere: python3 fuzz/cost_seeds.py
"""
import hashlib
import os

LIMIT = 65536
ENTITY = 40000
REFS = 1000
HEADER = '<?xml version="1.0" encoding="ISO-8859-1" ?>\n'

# Per family: root element, one record (with {n} for a number), the element
# that nesting goes inside, and where text expansion goes.
FAMILIES = {
    'evlist': ('BMR',
               '<EVENT><TYPE>{t}</TYPE><TMASK>0x1F</TMASK><PRIORITY>3</PRIORITY>'
               '<SBLOCK>SB{n}<CHLIST><CHAN>C{n}/X</CHAN></CHLIST></SBLOCK></EVENT>',
               '<EVENT><TYPE>1</TYPE><SBLOCK>SB<CHLIST><CHAN>{x}</CHAN></CHLIST></SBLOCK></EVENT>'),
    'chan': ('CHANDESCRIPTIONS',
             '<CHANNEL><STREAM>1</STREAM><EVTYPE>{t}</EVTYPE><DTYPE>38</DTYPE><PROP>P/{n}</PROP>'
             '<NAME>N.{n}</NAME><UNITS>mm</UNITS><DIM>0<DIM_NAME>d</DIM_NAME></DIM></CHANNEL>',
             '<CHANNEL><EVTYPE>1</EVTYPE><PROP>P</PROP><NAME>N</NAME><DESC>{x}</DESC></CHANNEL>'),
    'envdict': ('ENVINDEXDICT',
                '<CHANNEL><INDEX>{n}</INDEX><PROP>E/{n}</PROP><DABS>0.1</DABS><DREL>0.005</DREL></CHANNEL>',
                '<CHANNEL><INDEX>1</INDEX><PROP>{x}</PROP></CHANNEL>'),
    'triggers': ('QAL3USERTRIGGERLIST',
                 '<USERTRIGGER><Chan name="B/{n}" subchan="0"/><Function name="MEAN" start="2" end="5"/>'
                 '<Operation name="GT"/><UpperLimit value="5"/><Group name="g"/></USERTRIGGER>',
                 '<USERTRIGGER><Chan name="B" subchan="0"/><Description text="{x}"/></USERTRIGGER>'),
    'gige': ('RegisterDescription',
             '<Integer Name="F{n}"><ToolTip>t{n}</ToolTip></Integer>',
             '<Integer Name="F"><Description>{x}</Description></Integer>'),
}

# Which corpora read which families ("all" reads any document).
TARGETS = {
    'evlist': ['evlist'],
    'chan_descr': ['chan'],
    'roundtrip_chan': ['chan'],
    'selector': ['chan'],
    'envdict': ['envdict'],
    'roundtrip_envdict': ['envdict'],
    'trigger_list': ['triggers'],
    'roundtrip_trigger': ['triggers'],
    'gige': ['gige'],
    'check': ['evlist', 'chan', 'envdict', 'triggers'],
    'py_records': ['evlist', 'chan', 'envdict', 'triggers', 'gige'],
    'pull_parser': ['evlist', 'gige'],
}


def fill(make, budget):
    """Records made by make(n) for n = 0, 1, ... while they fit in budget."""
    out, size, n = [], 0, 0
    while True:
        rec = make(n)
        if size + len(rec) > budget:
            return ''.join(out)
        out.append(rec)
        size += len(rec)
        n += 1


def documents(family):
    root, record, holder = FAMILIES[family]
    dtd = '<!DOCTYPE %s [<!ENTITY e "%s">]>\n' % (root, 'x' * ENTITY)
    refs = '&e;' * REFS
    rec = lambda n: record.format(n=n, t=1 + n % 30)
    frame = len(HEADER) + 2 * len(root) + 6
    docs = {
        'amp-attr': HEADER + dtd + '<%s a="%s">' % (root, refs) + rec(0) + '</%s>\n' % root,
        'amp-text': HEADER + dtd + '<%s>' % root + holder.format(x=refs) + '</%s>\n' % root,
        'siblings': HEADER + '<%s>\n' % root + fill(lambda n: rec(n) + '\n', LIMIT - frame) + '</%s>\n' % root,
        'one-line': HEADER.rstrip('\n') + '<%s>' % root + fill(rec, LIMIT - frame) + '</%s>' % root,
    }
    if family == 'gige':
        # As many features as fit, without names.
        docs['features'] = HEADER + '<%s>\n' % root + fill(lambda n: '<Integer/>', LIMIT - frame) + '</%s>\n' % root
    default = ('<!DOCTYPE %s [<!ELEMENT %s ANY><!ELEMENT X ANY><!ENTITY e "%s"><!ATTLIST X a CDATA "%s">]>\n'
               % (root, root, 'x' * 4000, '&e;' * 256))
    docs['defaults'] = (HEADER + default + '<%s>' % root +
                        '<X/>' * ((LIMIT - frame - len(default)) // 4) + '</%s>\n' % root)
    docs['names'] = HEADER + '<%s>' % root + fill(lambda n: '<N%d/>' % n, LIMIT - frame) + '</%s>\n' % root
    docs['long-name'] = HEADER + '<%s><%s/></%s>\n' % (root, 'N' * (LIMIT - frame - 8), root)
    levels = (LIMIT - frame - len(rec(0)) - 64) // len('<x></x>')
    first = holder.format(x='{x}')
    nest = '<x>' * levels + '</x>' * levels
    docs['deep'] = HEADER + '<%s>' % root + first.replace('{x}', nest) + '</%s>\n' % root
    for name, doc in docs.items():
        data = doc.encode('latin-1')
        assert len(data) <= LIMIT, (family, name, len(data))
        yield name, data


# The cost target's seeds: the power of two of the copies, head, unit, tail.
COST = {
    'defaults': (14, '<!DOCTYPE BMR [<!ELEMENT BMR ANY><!ELEMENT X ANY><!ENTITY e "%s">'
                     '<!ATTLIST X a CDATA "%s">]><BMR>' % ('x' * 4000, '&e;' * 256), '<X/>', '</BMR>'),
    'names': (17, '<BMR>', '<N#/>', '</BMR>'),
    'long-name': (20, '<BMR><EVENT><', 'N', '/></EVENT></BMR>'),
    'attributes': (14, '<BMR><EVENT', ' a#="1"', '/></BMR>'),
}


# The examples seed the targets that had no corpus before these seeds.
EXAMPLES = {
    'check': ['chan_daqvariables.xml', 'chan_descriptions.xml', 'envdict.xml', 'evlist_basic.xml',
              'evlist_multi.xml', 'triggers.xml', 'plot_triggers.xml'],
    'selector': ['chan_daqvariables.xml', 'chan_descriptions.xml', 'chan_select_extra.xml',
                 'chan_select_linac.xml', ('chan_select_linac.xml', 'chan_select_extra.xml')],
    'py_records': ['chan_daqvariables.xml', 'chan_descriptions.xml', 'envdict.xml', 'evlist_basic.xml',
                   'evlist_multi.xml', 'triggers.xml', 'gige_camera.xml'],
}


def example(here, names):
    """An example, or several joined by NUL bytes (the selector's inputs)."""
    if isinstance(names, str):
        names = (names,)
    parts = []
    for name in names:
        with open(os.path.join(here, '..', 'examples', name), 'rb') as f:
            parts.append(f.read())
    return '+'.join(names), b'\0'.join(parts)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    corpus = os.path.join(here, 'corpus')
    made = {family: list(documents(family)) for family in FAMILIES}
    for target, names in EXAMPLES.items():
        os.makedirs(os.path.join(corpus, target), exist_ok=True)
        for entry in names:
            name, data = example(here, entry)
            path = os.path.join(corpus, target, hashlib.sha1(data).hexdigest())
            with open(path, 'wb') as f:
                f.write(data)
            print('%-18s %-19s %6d %s' % (target, name, len(data), os.path.basename(path)))
    os.makedirs(os.path.join(corpus, 'cost'), exist_ok=True)
    for name, (power, head, unit, tail) in COST.items():
        data = bytes([power]) + ('%s\x01%s\x01%s' % (head, unit, tail)).encode('latin-1')
        path = os.path.join(corpus, 'cost', hashlib.sha1(data).hexdigest())
        with open(path, 'wb') as f:
            f.write(data)
        print('%-18s %-19s %6d %s' % ('cost', name, len(data), os.path.basename(path)))
    for target, families in TARGETS.items():
        os.makedirs(os.path.join(corpus, target), exist_ok=True)
        for family in families:
            for name, data in made[family]:
                path = os.path.join(corpus, target, hashlib.sha1(data).hexdigest())
                with open(path, 'wb') as f:
                    f.write(data)
                print('%-18s %-19s %6d %s' % (target, family + ' ' + name, len(data), os.path.basename(path)))


if __name__ == '__main__':
    main()
