import random
random.seed(7)
out = []
def rnd_field(w):
    kind = random.randint(0, 5)
    sign = random.choice(['', '', '-', '+'])
    if kind == 0:   # fixed with point
        s = sign + str(random.randint(0, 99999)) + '.' + str(random.randint(0, 9999))
    elif kind == 1: # no point: implied decimals
        s = sign + str(random.randint(0, 9999999))
    elif kind == 2: # E form
        s = sign + '0.' + str(random.randint(0, 999999)) + 'E' + random.choice(['+', '-']) + str(random.randint(0, 40))
    elif kind == 3: # exponent without letter
        s = sign + str(random.randint(0, 999)) + '.' + str(random.randint(0, 99)) + random.choice(['+', '-']) + str(random.randint(0, 9))
    elif kind == 4: # embedded blanks
        s = sign + str(random.randint(0, 999)) + ' ' + str(random.randint(0, 99))
    else:           # D exponent, lower case
        s = sign + str(random.randint(1, 999)) + random.choice(['d', 'e', 'D']) + str(random.randint(0, 30))
    s = s[:w]
    return s.rjust(w) if random.random() < 0.8 else s.ljust(w)
for i in range(3000):
    out.append(rnd_field(11))
with open('fields.txt', 'w') as f:
    for s in out: f.write(s + '\n')
