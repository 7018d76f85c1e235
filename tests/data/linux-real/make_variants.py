# Derives the variant trees from the copied SMBIOS capture:
#   python3 tests/data/linux-real/make_variants.py
# smbios-satellite_pro_l70-entries: the same table as an older kernel shows
#   it, one folder per structure under sys/firmware/dmi/entries, no tables/.
# smbios-satellite_pro_l70-latin1: the same table with the system's product
#   name in Windows-1252 bytes, as old firmware writes it, also in the
#   kernel's product_name attribute.
import os, shutil
BASE = os.path.dirname(os.path.abspath(__file__))
TABLE = os.path.join(BASE, 'smbios-uroot-satellite_pro_l70/sys/firmware/dmi/tables/DMI')

def structures(table):
    pos = 0
    while pos + 4 <= len(table):
        length = table[pos + 1]
        end = table.index(b'\0\0', pos + length) + 2
        yield pos, table[pos:end]
        if table[pos] == 127: break
        pos = end

def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f: f.write(content if isinstance(content, bytes) else content.encode())

table = open(TABLE, 'rb').read()

root = os.path.join(BASE, 'smbios-satellite_pro_l70-entries')
shutil.rmtree(root, ignore_errors=True)
counts = {}
for position, (offset, raw) in enumerate(structures(table)):
    t = raw[0]
    instance = counts.get(t, 0); counts[t] = instance + 1
    d = os.path.join(root, f'sys/firmware/dmi/entries/{t}-{instance}')
    write(d + '/raw', raw)
    write(d + '/type', f'{t}\n'); write(d + '/instance', f'{instance}\n'); write(d + '/position', f'{position}\n')
    write(d + '/handle', f'{raw[2] | raw[3] << 8}\n'); write(d + '/length', f'{raw[1]}\n')

root = os.path.join(BASE, 'smbios-satellite_pro_l70-latin1')
shutil.rmtree(root, ignore_errors=True)
product = 'SATELLITE PRO L70-A \u00abÉdition\u2122\u00bb'.encode('cp1252')
changed = table.replace(b'SATELLITE PRO L70-A\0', product + b'\0', 1)
assert changed != table
write(os.path.join(root, 'sys/firmware/dmi/tables/DMI'), changed)
write(os.path.join(root, 'sys/class/dmi/id/product_name'), product + b'\n')

# hwloc-128arm-clusters: the arm64 server with the cores of each cluster of
# four numbered from 0 in core_id, so that the ids repeat within a package.
ARM = os.path.join(BASE, 'hwloc-128arm-2pa2n8cluster4co')
root = os.path.join(BASE, 'hwloc-128arm-clusters')
shutil.rmtree(root, ignore_errors=True)
shutil.copytree(ARM, root, symlinks=True)
cpus = os.path.join(root, 'sys/devices/system/cpu')
for entry in os.listdir(cpus):
    if not (entry.startswith('cpu') and entry[3:].isdigit()): continue
    topology = os.path.join(cpus, entry, 'topology')
    first = int(open(os.path.join(topology, 'cluster_cpus_list')).read().split('-')[0])
    write(os.path.join(topology, 'core_id'), f'{int(entry[3:]) - first}\n')
