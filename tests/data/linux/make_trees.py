# Regenerates the fake machine trees (and the binary firmware table) used by
# the Linux source tests: python3 tests/data/linux/make_trees.py
import os, struct, shutil
BASE = os.path.dirname(os.path.abspath(__file__))

def w(root, path, content):
    p = os.path.join(BASE, root, path.lstrip('/'))
    os.makedirs(os.path.dirname(p), exist_ok=True)
    mode = 'wb' if isinstance(content, bytes) else 'w'
    with open(p, mode) as f: f.write(content)

def ln(root, path, target):
    p = os.path.join(BASE, root, path.lstrip('/'))
    os.makedirs(os.path.dirname(p), exist_ok=True)
    if os.path.lexists(p): os.remove(p)
    os.symlink(target, p)

def mkdir(root, path):
    os.makedirs(os.path.join(BASE, root, path.lstrip('/')), exist_ok=True)

def pci(root, addr, ven, dev, cls, rev=1, sv=0, sd=0, driver=None, module=None, version=None, enable=1, parent='pci0000:00'):
    d = f'/sys/devices/{parent}/{addr}'
    w(root, d + '/vendor', f'0x{ven:04x}\n'); w(root, d + '/device', f'0x{dev:04x}\n')
    w(root, d + '/subsystem_vendor', f'0x{sv:04x}\n'); w(root, d + '/subsystem_device', f'0x{sd:04x}\n')
    w(root, d + '/class', f'0x{cls:06x}\n'); w(root, d + '/revision', f'0x{rev:02x}\n'); w(root, d + '/enable', f'{enable}\n')
    ln(root, f'/sys/bus/pci/devices/{addr}', '../../../..' + d)
    if driver:
        ln(root, d + '/driver', f'../../../bus/pci/drivers/{driver}')
        mkdir(root, f'/sys/bus/pci/drivers/{driver}')
        if module:
            ln(root, f'/sys/bus/pci/drivers/{driver}/module', f'../../../../module/{module}')
            if version: w(root, f'/sys/module/{module}/version', version + '\n')
    return d

def net(root, ifname, devpath, mac, up=True):
    nd = devpath + '/net/' + ifname
    w(root, nd + '/address', mac + '\n'); w(root, nd + '/type', '1\n'); w(root, nd + '/operstate', ('up' if up else 'down') + '\n')
    w(root, nd + '/speed', '1000\n' if up else '-1\n')
    ln(root, nd + '/device', '../../../' + devpath.rsplit('/', 1)[1])
    ln(root, f'/sys/class/net/{ifname}', '../../..' + nd)

def lo(root):
    nd = '/sys/devices/virtual/net/lo'
    w(root, nd + '/address', '00:00:00:00:00:00\n'); w(root, nd + '/type', '772\n')
    ln(root, '/sys/class/net/lo', '../../..' + nd)

def kernel(root, host):
    w(root, '/proc/sys/kernel/osrelease', '6.1.0-18-amd64\n')
    w(root, '/proc/sys/kernel/version', '#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)\n')
    w(root, '/proc/sys/kernel/arch', 'x86_64\n')
    w(root, '/proc/sys/kernel/hostname', host + '\n')
    w(root, '/proc/meminfo', 'MemTotal:       16303044 kB\nMemFree:         1000000 kB\n')
    w(root, '/etc/os-release', 'PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"\nNAME="Debian GNU/Linux"\nVERSION_ID="12"\nID=debian\n')

def cpuinfo(cpus, packages_of, cores_of, name):
    out = ''
    for c in range(cpus):
        out += (f'processor\t: {c}\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\nmodel name\t: {name}\n'
                f'stepping\t: 10\ncpu MHz\t\t: 800.000\nphysical id\t: {packages_of(c)}\ncore id\t\t: {cores_of(c)}\n\n')
    return out

def topology(root, cpus, packages_of, cores_of, l2_groups, maxkhz):
    for c in range(cpus):
        b = f'/sys/devices/system/cpu/cpu{c}'
        w(root, b + '/topology/physical_package_id', f'{packages_of(c)}\n')
        w(root, b + '/topology/core_id', f'{cores_of(c)}\n')
        w(root, b + '/cpufreq/cpuinfo_max_freq', f'{maxkhz}\n')
        w(root, b + '/cache/index0/level', '1\n'); w(root, b + '/cache/index0/size', '32K\n')
        w(root, b + '/cache/index0/shared_cpu_list', l2_groups(c) + '\n')
        w(root, b + '/cache/index2/level', '2\n'); w(root, b + '/cache/index2/size', '256K\n')
        w(root, b + '/cache/index2/shared_cpu_list', l2_groups(c) + '\n')

def smbios_struct(t, handle, body, strings):
    hdr = struct.pack('<BBH', t, 4 + len(body), handle) + body
    s = b''.join(x.encode() + b'\0' for x in strings)
    return hdr + (s + b'\0' if strings else b'\0\0')

def dmi_table():
    out = smbios_struct(0, 0, struct.pack('<BBHBBB', 1, 2, 0xF000, 3, 0, 0), ['Norvane', 'N1CET90W', '03/15/2023'])
    out += smbios_struct(1, 1, struct.pack('<BBBB', 1, 2, 3, 4), ['Norvane', 'Veltrix Tower 5', '1.0', 'SYS-4711'])
    out += smbios_struct(2, 2, struct.pack('<BBBBB', 1, 2, 3, 4, 0), ['Norvane', 'NB-Q670', 'Rev 1.02', 'MB-0815'])
    out += smbios_struct(3, 3, struct.pack('<BBBBB', 1, 3, 2, 3, 4), ['Norvane', '1.0', 'ENC-4711', 'ASSET-1'])
    for i, (name, usage) in enumerate([('PCIEX16_1', 4), ('PCIEX1_1', 3), ('PCIEX1_2', 4)]):
        out += smbios_struct(9, 0x10 + i, struct.pack('<BBBBBHH', 1, 0xA5, 0x0D, usage, 4, i + 1, 0x0C), [name])
    # Memory devices: 8 GB, 8 GB, 16 GB in KB-free MB units, 32 GB via the extended size, and one empty slot.
    dimms = [('DIMM_A1', 'BANK 0', 8192, 3200, 'Kingston', 'SN-A1', 'KF432C16BB/8'),
             ('DIMM_A2', 'BANK 1', 8192, 3200, 'Kingston', 'SN-A2', 'KF432C16BB/8'),
             ('DIMM_B1', 'BANK 2', 16384, 2666, 'Crucial', 'SN-B1', 'CT16G4DFRA266'),
             ('DIMM_B2', 'BANK 3', 0x7FFF, 2666, 'Crucial', 'SN-B2', 'CT32G4DFD832A'),
             ('DIMM_C1', 'BANK 4', 0, 0, None, None, None)]
    for i, (loc, bank, size, speed, maker, serial, part) in enumerate(dimms):
        strings = [loc, bank] + ([maker, serial, 'Asset', part] if maker else [])
        body = struct.pack('<HHHHHBBBBBHHBBBBB', 0x1000, 0xFFFE, 64, 64, size, 0x09, 0, 1, 2, 0x1A, 0x80, speed,
                           3 if maker else 0, 4 if maker else 0, 5 if maker else 0, 6 if maker else 0, 2)
        body += struct.pack('<IH', 32768 if size == 0x7FFF else 0, speed)
        out += smbios_struct(17, 0x20 + i, body, strings)
    out += smbios_struct(127, 0xFFFF, b'', [])
    return out

def dpkg():
    return ('Package: dpkg\nStatus: install ok installed\nArchitecture: amd64\nVersion: 1.21.22\n\n'
            'Package: bash\nStatus: install ok installed\nPriority: required\nArchitecture: amd64\nVersion: 5.2.15-2+b2\n'
            'Description: GNU Bourne Again SHell\n Bash is an sh-compatible command language interpreter.\n\n'
            'Package: tzdata\nStatus: install ok installed\nArchitecture: all\nVersion: 2024a-0+deb12u1\n\n'
            'Package: oldtool\nStatus: deinstall ok config-files\nArchitecture: amd64\nVersion: 0.9\n\n'
            'Package: libc6\nStatus: install ok installed\nArchitecture: i386\nVersion: 2.36-9+deb12u4\n')

HISTORY = ('\nStart-Date: 2024-02-03  10:15:01\nCommandline: apt install htop\nInstall: htop:amd64 (3.2.2-2)\nEnd-Date: 2024-02-03  10:15:04\n\n'
           'Start-Date: 2024-02-10  08:00:00\nCommandline: apt upgrade\n'
           'Upgrade: bash:amd64 (5.2.15-2, 5.2.15-2+b2), libc6:i386 (2.36-9+deb12u3, 2.36-9+deb12u4)\nEnd-Date: 2024-02-10  08:01:00\n')

KBD_KEYS = 'B: KEY=402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe\n'
def input_block(bus, ven, prod, name, sysfs, handlers, keys=None):
    s = f'I: Bus={bus:04x} Vendor={ven:04x} Product={prod:04x} Version=ab41\nN: Name="{name}"\nP: Phys=x\nS: Sysfs={sysfs}\nU: Uniq=\nH: Handlers={handlers}\nB: PROP=0\nB: EV=120013\n'
    if keys: s += keys
    return s + '\n'

# ---------------- desktop ----------------
R = 'desktop'
shutil.rmtree(os.path.join(BASE, R), ignore_errors=True)
kernel(R, 'desk01')
w(R, '/etc/debian_version', '12.5\n'); w(R, '/etc/default/locale', 'LANG=de_DE.UTF-8\n'); w(R, '/etc/default/keyboard', 'XKBMODEL="pc105"\nXKBLAYOUT="de"\n')
for k, v in {'bios_vendor': 'Norvane', 'bios_version': 'N1CET90W', 'bios_date': '03/15/2023', 'sys_vendor': 'Norvane',
             'product_name': 'Veltrix Tower 5', 'board_vendor': 'Norvane', 'board_name': 'NB-Q670', 'board_version': 'Rev 1.02',
             'chassis_vendor': 'Norvane', 'chassis_type': '3'}.items():
    w(R, f'/sys/class/dmi/id/{k}', v + '\n')
w(R, '/sys/firmware/dmi/tables/DMI', dmi_table())
pk = lambda c: 0; co = lambda c: c % 2
w(R, '/proc/cpuinfo', cpuinfo(4, pk, co, 'Norvane Q7-8700  CPU @ 3.20GHz'))
topology(R, 4, pk, co, lambda c: '0,2' if c % 2 == 0 else '1,3', 4600000)
pci(R, '0000:00:00.0', 0x8086, 0x3ec2, 0x060000, rev=7, enable=0)
disp = pci(R, '0000:00:02.0', 0x8086, 0x3e92, 0x030000, rev=0, sv=0x1028, sd=0x0869, driver='i915', module='i915')
w(R, disp + '/resource', '0x00000000f6000000 0x00000000f6ffffff 0x0000000000140204\n0x00000000e0000000 0x00000000efffffff 0x000000000014220c\n0x000000000000f000 0x000000000000f03f 0x0000000000040101\n')
nic1 = pci(R, '0000:00:1f.6', 0x8086, 0x15bb, 0x020000, rev=0x10, sv=0x1028, sd=0x0869, driver='e1000e', module='e1000e', version='3.2.6-k')
nic2 = pci(R, '0000:03:00.0', 0x10ec, 0x8168, 0x020000, rev=0x15, sv=0x1028, sd=0x0869, driver='r8169', module='r8169', parent='pci0000:00/0000:00:1c.0')
pci(R, '0000:00:1f.3', 0x8086, 0xa348, 0x040300, rev=0x10)
sata = pci(R, '0000:00:17.0', 0x8086, 0xa352, 0x010601, rev=0x10, driver='ahci', module='ahci')
pci(R, '0000:00:1c.0', 0x8086, 0xa338, 0x060400, rev=0xf0, driver='pcieport')
net(R, 'eno1', nic1, '4c:d9:8f:0a:0b:0c'); net(R, 'enp3s0', nic2, '00:e0:4c:68:00:01', up=False); lo(R)
ln(R, '/sys/class/graphics/fb0', '../../devices/pci0000:00/0000:00:02.0/graphics/fb0')
w(R, disp + '/graphics/fb0/virtual_size', '1920,1080\n'); w(R, disp + '/graphics/fb0/bits_per_pixel', '32\n')
ln(R, disp + '/graphics/fb0/device', '../../../0000:00:02.0')
sd = sata + '/ata1/host0/target0:0:0/0:0:0:0'
w(R, sd + '/vendor', 'ATA     \n'); w(R, sd + '/model', 'Samsung SSD 860 EVO 500GB\n'); w(R, sd + '/rev', 'RVT04B6Q\n')
blk = sd + '/block/sda'
w(R, blk + '/dev', '8:0\n'); w(R, blk + '/size', '976773168\n'); w(R, blk + '/removable', '0\n')
ln(R, blk + '/device', '../../../0:0:0:0')
for i in (1, 2):
    w(R, blk + f'/sda{i}/partition', f'{i}\n'); w(R, blk + f'/sda{i}/dev', f'8:{i}\n')
ln(R, '/sys/block/sda', '../devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda')
w(R, '/run/udev/data/b8:0', 'S:disk/by-id/ata-x\nE:ID_SERIAL_SHORT=S3Z9NB0K123456A\nE:ID_MODEL=Samsung_SSD_860_EVO_500GB\n')
cd = sata + '/ata2/host1/target1:0:0/1:0:0:0'
w(R, cd + '/vendor', 'HL-DT-ST\n'); w(R, cd + '/model', 'DVDRAM GH24NSD1 \n'); w(R, cd + '/rev', 'LG00\n')
w(R, cd + '/block/sr0/dev', '11:0\n'); w(R, cd + '/block/sr0/size', '0\n'); w(R, cd + '/block/sr0/removable', '1\n')
ln(R, cd + '/block/sr0/device', '../../../1:0:0:0')
ln(R, '/sys/block/sr0', '../devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sr0')
w(R, '/sys/block/loop0/size', '0\n'); w(R, '/sys/block/loop0/dev', '7:0\n')
w(R, '/proc/bus/input/devices',
  input_block(0x11, 1, 1, 'AT Translated Set 2 keyboard', '/devices/platform/i8042/serio0/input/input0', 'sysrq kbd event0 leds', KBD_KEYS) +
  input_block(0x19, 0, 1, 'Power Button', '/devices/LNXSYSTM:00/LNXPWRBN:00/input/input1', 'kbd event1', 'B: KEY=10000000000000 0\n') +
  input_block(0x11, 2, 6, 'ImPS/2 Generic Wheel Mouse', '/devices/platform/i8042/serio1/input/input2', 'mouse0 event2'))
w(R, '/proc/self/mountinfo', '27 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n28 27 0:5 / /dev rw - devtmpfs udev rw\n')
w(R, '/var/lib/dpkg/status', dpkg())
w(R, '/var/log/apt/history.log', HISTORY)

# ---------------- laptop ----------------
R = 'laptop'
shutil.rmtree(os.path.join(BASE, R), ignore_errors=True)
kernel(R, 'lap01')
w(R, '/etc/default/locale', 'LANG=en_US.UTF-8\n')
for k, v in {'bios_vendor': 'Norvane', 'bios_version': 'R0XET55W (1.33 )', 'bios_date': '11/02/2022',
             'sys_vendor': 'Norvane', 'product_name': 'Veltrix Book 14', 'board_name': 'NB-L14', 'board_vendor': 'Norvane',
             'chassis_vendor': 'Norvane', 'chassis_type': '10', 'chassis_serial': 'PF3ABCD'}.items():
    w(R, f'/sys/class/dmi/id/{k}', v + '\n')
w(R, '/sys/class/dmi/id/product_serial', '')  # present but unreadable-like empty
w(R, '/run/udev/data/+dmi:id',
  'E:MEMORY_ARRAY_NUM_DEVICES=2\nE:MEMORY_DEVICE_0_PRESENT=1\nE:MEMORY_DEVICE_0_SIZE=8589934592\nE:MEMORY_DEVICE_0_FORM_FACTOR=SODIMM\n'
  'E:MEMORY_DEVICE_0_LOCATOR=ChannelA-DIMM0\nE:MEMORY_DEVICE_0_BANK_LOCATOR=BANK 0\nE:MEMORY_DEVICE_0_TYPE=DDR4\nE:MEMORY_DEVICE_0_SPEED_MTS=3200\n'
  'E:MEMORY_DEVICE_0_MANUFACTURER=Samsung\nE:MEMORY_DEVICE_0_SERIAL_NUMBER=00000000\nE:MEMORY_DEVICE_0_PART_NUMBER=M471A1K43DB1-CWE\n'
  'E:MEMORY_DEVICE_1_PRESENT=0\nE:MEMORY_DEVICE_1_LOCATOR=ChannelB-DIMM0\n')
pk = lambda c: 0; co = lambda c: c
w(R, '/proc/cpuinfo', cpuinfo(2, pk, co, 'Norvane L5-1135G7 @ 2.40GHz'))
topology(R, 2, pk, co, lambda c: str(c), 4200000)
gpu = pci(R, '0000:00:02.0', 0x8086, 0x9a49, 0x030000, rev=1, driver='i915', module='i915')
xhci = pci(R, '0000:00:14.0', 0x8086, 0xa0ed, 0x0c0330, rev=0x20, driver='xhci_hcd', module='xhci_pci')
wifi = pci(R, '0000:00:14.3', 0x8086, 0xa0f0, 0x028000, rev=0x20, driver='iwlwifi', module='iwlwifi')
net(R, 'wlp0s20f3', wifi, 'a4:c3:f0:11:22:33'); lo(R)
ln(R, '/sys/class/drm/card0', '../../devices/pci0000:00/0000:00:02.0/drm/card0')
ln(R, gpu + '/drm/card0/device', '../../../0000:00:02.0')
ln(R, '/sys/class/drm/card0-eDP-1', '../../devices/pci0000:00/0000:00:02.0/drm/card0/card0-eDP-1')
w(R, gpu + '/drm/card0/card0-eDP-1/status', 'connected\n'); w(R, gpu + '/drm/card0/card0-eDP-1/modes', '1920x1080\n1280x720\n')
ln(R, '/sys/class/drm/card0-HDMI-A-1', '../../devices/pci0000:00/0000:00:02.0/drm/card0/card0-HDMI-A-1')
w(R, gpu + '/drm/card0/card0-HDMI-A-1/status', 'disconnected\n')
def usb(root, name, ven, prod, cls, ifaces, serial=None, product=None, busnum=1):
    d = xhci + '/usb1/' + name
    w(root, d + '/idVendor', f'{ven:04x}\n'); w(root, d + '/idProduct', f'{prod:04x}\n'); w(root, d + '/bDeviceClass', f'{cls:02x}\n')
    w(root, d + '/busnum', f'{busnum}\n')
    if serial: w(root, d + '/serial', serial + '\n')
    if product: w(root, d + '/product', product + '\n')
    ln(root, f'/sys/bus/usb/devices/{name}', '../../../..' + d)
    for iname, icls, drv in ifaces:
        idir = d + '/' + iname
        w(root, idir + '/bInterfaceClass', f'{icls:02x}\n')
        ln(root, f'/sys/bus/usb/devices/{iname}', '../../../..' + idir)
        if drv: ln(root, idir + '/driver', f'../../../../../../bus/usb/drivers/{drv}')
    return d
stick = usb(R, '1-2', 0x0781, 0x5567, 0, [('1-2:1.0', 0x08, 'usb-storage')], serial='4C530001230101117112')
mouse = usb(R, '1-3', 0x046d, 0xc077, 0, [('1-3:1.0', 0x03, 'usbhid')])
usb(R, '1-4', 0x1234, 0x5678, 0xff, [('1-4:1.0', 0xff, None)], product='Mystery Gadget')
sdb = stick + '/1-2:1.0/host2/target2:0:0/2:0:0:0'
w(R, sdb + '/vendor', 'SanDisk \n'); w(R, sdb + '/model', 'Cruzer Blade    \n'); w(R, sdb + '/rev', '1.00\n')
b = sdb + '/block/sdb'
w(R, b + '/dev', '8:16\n'); w(R, b + '/size', '30031872\n'); w(R, b + '/removable', '1\n')
w(R, b + '/sdb1/partition', '1\n'); w(R, b + '/sdb1/dev', '8:17\n')
ln(R, b + '/device', '../../../2:0:0:0')
ln(R, '/sys/block/sdb', '../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host2/target2:0:0/2:0:0:0/block/sdb')
w(R, '/run/udev/data/b8:17', 'E:ID_FS_LABEL=STICK\n')
rdr = xhci + '/usb1/1-5/1-5:1.0/host3/target3:0:0/3:0:0:0'
w(R, rdr + '/vendor', 'Generic-\n'); w(R, rdr + '/model', 'SD/MMC          \n')
w(R, rdr + '/block/sdc/dev', '8:32\n'); w(R, rdr + '/block/sdc/size', '0\n'); w(R, rdr + '/block/sdc/removable', '1\n')
ln(R, '/sys/block/sdc', '../devices/pci0000:00/0000:00:14.0/usb1/1-5/1-5:1.0/host3/target3:0:0/3:0:0:0/block/sdc')
nv = pci(R, '0000:01:00.0', 0x144d, 0xa808, 0x010802, rev=0, driver='nvme', module='nvme', parent='pci0000:00/0000:00:06.0')
w(R, nv + '/nvme/nvme0/model', 'SAMSUNG MZVLB512HBJQ-000L7             \n'); w(R, nv + '/nvme/nvme0/firmware_rev', '4M2QEXF7\n')
w(R, nv + '/nvme/nvme0/serial', 'S4ENNX0N123456      \n')
w(R, nv + '/nvme/nvme0/nvme0n1/dev', '259:0\n'); w(R, nv + '/nvme/nvme0/nvme0n1/size', '1000215216\n'); w(R, nv + '/nvme/nvme0/nvme0n1/removable', '0\n')
ln(R, nv + '/nvme/nvme0/nvme0n1/device', '../../nvme0')
ln(R, '/sys/block/nvme0n1', '../devices/pci0000:00/0000:00:06.0/0000:01:00.0/nvme/nvme0/nvme0n1')
bat = '/sys/devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0'
for k, v in {'type': 'Battery', 'manufacturer': 'NORVANE', 'model_name': '5B10W13930', 'serial_number': '1234',
             'capacity': '87', 'status': 'Discharging', 'technology': 'Li-ion'}.items():
    w(R, bat + '/' + k, v + '\n')
ln(R, '/sys/class/power_supply/BAT0', '../../devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0')
ac = '/sys/devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC'
w(R, ac + '/type', 'Mains\n'); ln(R, '/sys/class/power_supply/AC', '../../devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC')
mb = '/sys/devices/hid/power_supply/hidpp_battery_0'
w(R, mb + '/type', 'Battery\n'); w(R, mb + '/scope', 'Device\n')
ln(R, '/sys/class/power_supply/hidpp_battery_0', '../../devices/hid/power_supply/hidpp_battery_0')
w(R, '/proc/bus/input/devices',
  input_block(0x11, 1, 1, 'AT Translated Set 2 keyboard', '/devices/platform/i8042/serio0/input/input0', 'sysrq kbd event0 leds', KBD_KEYS) +
  input_block(0x03, 0x046d, 0xc077, 'Logitech USB Optical Mouse',
              '/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:046D:C077.0001/input/input5', 'mouse1 event5'))
w(R, '/proc/self/mountinfo', '27 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n'
     '90 27 8:17 / /media/user/STICK rw,nosuid - vfat /dev/sdb1 rw\n'
     '91 27 0:55 / /mnt/share rw - cifs //server/share rw\n'
     '92 27 0:56 / /home/user/remote rw - fuse.sshfs user@host: rw\n')
w(R, '/media/user/STICK/.keep', '')

# ---------------- vm ----------------
R = 'vm'
shutil.rmtree(os.path.join(BASE, R), ignore_errors=True)
kernel(R, 'vm01')
w(R, '/proc/cpuinfo', 'processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: QEMU Virtual CPU version 2.5+\ncpu MHz\t\t: 2399.998\n\n')
pci(R, '0000:00:00.0', 0x8086, 0x1237, 0x060000, rev=2)
vnet = pci(R, '0000:00:03.0', 0x1af4, 0x1000, 0x020000, rev=0, sv=0x1af4, sd=1, driver='virtio-pci', module='virtio_pci')
pci(R, '0000:00:02.0', 0x1234, 0x1111, 0x030000, rev=2, sv=0x1af4, sd=0x1100, driver='bochs-drm', module='bochs')
net(R, 'ens3', vnet, '52:54:00:12:34:56'); lo(R)
w(R, '/sys/devices/virtual/net/docker0/address', '02:42:ac:11:00:01\n'); w(R, '/sys/devices/virtual/net/docker0/type', '1\n')
ln(R, '/sys/class/net/docker0', '../../devices/virtual/net/docker0')
blk = '/sys/devices/pci0000:00/0000:00:04.0/virtio1/block/vda'
pci(R, '0000:00:04.0', 0x1af4, 0x1001, 0x010000, rev=0, driver='virtio-pci', module='virtio_pci')
w(R, blk + '/dev', '254:0\n'); w(R, blk + '/size', '41943040\n'); w(R, blk + '/removable', '0\n'); w(R, blk + '/serial', 'vm-disk-1\n')
ln(R, blk + '/device', '../../../virtio1')
ln(R, '/sys/block/vda', '../devices/pci0000:00/0000:00:04.0/virtio1/block/vda')

# ---------------- container ----------------
R = 'container'
shutil.rmtree(os.path.join(BASE, R), ignore_errors=True)
w(R, '/proc/cpuinfo', 'processor\t: 0\nmodel name\t: Generic CPU\n\nprocessor\t: 1\nmodel name\t: Generic CPU\n\n')
w(R, '/proc/sys/kernel/osrelease', '6.8.0-31-generic\n')
w(R, '/etc/os-release', 'NAME="Alpine Linux"\nID=alpine\n')

# ---------------- ids ----------------
w('ids', 'pci.ids', '# tiny list for tests\n8086  Intel Corporation\n\t15bb  Ethernet Connection (7) I219-LM\n\t3e92  CoffeeLake-S GT2 [UHD Graphics 630]\n'
  '\t\t1028 0869  subsystem line that must be ignored\n\ta0f0  Wi-Fi 6 AX201\n\t9a49  TigerLake-LP GT2 [Iris Xe Graphics]\n'
  '10ec  Realtek Semiconductor Co., Ltd.\n\t8168  RTL8111/8168/8211/8411 PCI Express Gigabit Ethernet Controller\n'
  '1af4  Red Hat, Inc.\n\t1000  Virtio network device\n\t1001  Virtio block device\n'
  'C 03  Display controller\n\t00  VGA compatible controller\nC 04  Multimedia controller\n\t03  Audio device\n'
  'C 06  Bridge\n\t00  Host bridge\n\t04  PCI bridge\n')
w('ids', 'usb.ids', '0781  SanDisk Corp.\n\t5567  Cruzer Blade\n046d  Logitech, Inc.\n\tc077  M105 Optical Mouse\n'
  'C 00  (Defined at Interface level)\n\t01  not a device\nHID 00  Undefined\n')
