import struct, random
random.seed(20261207)
def fbits(x): return struct.unpack('<I', struct.pack('<f', x))[0]
def dbits(x): return struct.unpack('<Q', struct.pack('<d', x))[0]
vals = [0.0, -0.0, 0.125, 0.375, 2.5, -1.5, 0.0625, 0.531, 496.0, 9999.0, -272.544, 1.0005, 0.0005, -0.0004,
        12380.0, 99999.0, 1e-30, 254.75, 0.1, 9999.9996, 999.9995, -999.9995, 0.9995, 0.99951, 1e10, -1e10,
        float('inf'), float('-inf'), float('nan'), 1e-45, 3.4e38, 99.9995, 9.99949, 0.00049, 0.0004999, 5e-4,
        1234.5675, 6370.0, 1e5, 99999.5, 1e6, 0.999999, 0.9999995, 9.9999995, 123456.78, -0.05, -0.5, -0.95]
for k in range(600):
    # values on a decimal grid, with and without a tiny offset (rounding at the last digit)
    v = random.randint(-999999, 9999999) / random.choice([1, 10, 100, 1000, 10000])
    vals.append(v)
    vals.append(v + random.choice([-1, 1]) * 0.0005 * random.choice([1, 0.1, 0.01]))
for k in range(400):
    vals.append(random.uniform(-1, 1) * 10 ** random.randint(-12, 12))
for k in range(300):
    b = random.getrandbits(32)
    vals.append(struct.unpack('<f', struct.pack('<I', b))[0])
with open('fvals.txt', 'w') as f:
    for v in vals:
        f.write('%08X\n' % fbits(v))
dvals = [0.0, -0.0, 6370.0, -1/3, 1e100, 1e-100, 1e300, 0.5, 1e-300, 5e-324, float('inf'), float('nan'), 1e99, 9.99999999999949e99, 9.9999999999995e99, 0.1]
for k in range(500):
    dvals.append(random.uniform(-1, 1) * 10 ** random.randint(-40, 40))
for k in range(200):
    dvals.append(struct.unpack('<d', struct.pack('<Q', random.getrandbits(64)))[0])
with open('dvals.txt', 'w') as f:
    for v in dvals:
        f.write('%016X\n' % dbits(v))
print(len(vals), len(dvals))
