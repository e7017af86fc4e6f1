#!/usr/bin/env python3
"""Writes the touchpad event streams the evdev tests replay, in evemu's recording format.

The streams follow what a clickpad of the kind found in laptops sends under multitouch protocol B:
slots, tracking ids, per-slot positions, the single-touch emulation (ABS_X/ABS_Y, BTN_TOUCH, the
BTN_TOOL_* finger-count keys) and SYN_REPORT every ~7 ms. Run it from this folder to regenerate.
"""

HEADER = """# EVEMU 1.3
# Input device name: "{name}"
N: {name}
I: 0018 06cb 7e7e 0100
P: 05 00 00 00 00 00 00 00
B: 00 0b 00 00 00 00 00 00 00
B: 01 00 00 00 00 00 00 00 00
B: 01 00 00 00 00 00 00 00 00
B: 01 00 00 01 00 00 00 00 00
B: 01 20 e5 00 00 00 00 00 00
B: 03 03 00 00 00 00 80 f3 06
A: 00 0 3200 0 0 31
A: 01 0 2000 0 0 31
A: 2f 0 4 0 0 0
A: 35 0 3200 0 0 31
A: 36 0 2000 0 0 31
A: 37 0 2 0 0 0
A: 39 0 65535 0 0 0
"""

EV_SYN, EV_KEY, EV_ABS = 0, 1, 3
SYN_REPORT, SYN_DROPPED = 0, 3
ABS_X, ABS_Y = 0x00, 0x01
ABS_MT_SLOT, ABS_MT_X, ABS_MT_Y, ABS_MT_TOOL, ABS_MT_ID = 0x2F, 0x35, 0x36, 0x37, 0x39
BTN_TOUCH, BTN_TOOL_FINGER, BTN_TOOL_DOUBLETAP, BTN_TOOL_TRIPLETAP, BTN_TOOL_QUADTAP = 0x14A, 0x145, 0x14D, 0x14E, 0x14F
TOOL_KEYS = {1: BTN_TOOL_FINGER, 2: BTN_TOOL_DOUBLETAP, 3: BTN_TOOL_TRIPLETAP, 4: BTN_TOOL_QUADTAP}


class Stream:
    def __init__(self, name):
        self.name = name
        self.lines = []
        self.time = 0.0
        self.slot = None
        self.down = {}   # slot -> (x, y)
        self.next_id = 300

    def event(self, type_, code, value):
        self.lines.append("E: %.6f %04x %04x %d" % (self.time, type_, code, value))

    def select(self, slot):
        if slot != self.slot:
            self.event(EV_ABS, ABS_MT_SLOT, slot)
            self.slot = slot

    def frame(self, fingers, palm_slots=(), dropped=False):
        """fingers: slot -> (x, y) for every contact down in this frame."""
        before = len(self.down)
        for slot in sorted(set(self.down) - set(fingers)):
            self.select(slot)
            self.event(EV_ABS, ABS_MT_ID, -1)
            del self.down[slot]
        for slot, (x, y) in sorted(fingers.items()):
            if slot not in self.down:
                self.select(slot)
                self.event(EV_ABS, ABS_MT_ID, self.next_id)
                self.next_id += 1
                if slot in palm_slots:
                    self.event(EV_ABS, ABS_MT_TOOL, 2)
                self.event(EV_ABS, ABS_MT_X, x)
                self.event(EV_ABS, ABS_MT_Y, y)
            else:
                ox, oy = self.down[slot]
                if x != ox or y != oy:
                    self.select(slot)
                if x != ox:
                    self.event(EV_ABS, ABS_MT_X, x)
                if y != oy:
                    self.event(EV_ABS, ABS_MT_Y, y)
            self.down[slot] = (x, y)
        after = len(self.down)
        if before == 0 and after > 0:
            self.event(EV_KEY, BTN_TOUCH, 1)
        if before != after:
            if before in TOOL_KEYS:
                self.event(EV_KEY, TOOL_KEYS[before], 0)
            if after in TOOL_KEYS:
                self.event(EV_KEY, TOOL_KEYS[after], 1)
        if before > 0 and after == 0:
            self.event(EV_KEY, BTN_TOUCH, 0)
        if self.down:
            first = min(self.down)
            self.event(EV_ABS, ABS_X, self.down[first][0])
            self.event(EV_ABS, ABS_Y, self.down[first][1])
        if dropped:
            self.event(EV_SYN, SYN_DROPPED, 0)
        self.event(EV_SYN, SYN_REPORT, 0)
        self.time += 0.007

    def write(self, path):
        with open(path, "w") as f:
            f.write(HEADER.format(name=self.name))
            f.write("\n".join(self.lines) + "\n")


def line(count, x0, y0, spacing=350):
    return {s: (x0 + s * spacing, y0) for s in range(count)}


def moved(fingers, dx, dy):
    return {s: (x + dx, y + dy) for s, (x, y) in fingers.items()}


def swipe(stream, start, dx, dy, steps=10, palm_slots=()):
    # Fingers land one by one, travel together, lift one by one.
    slots = sorted(start)
    for n in range(1, len(slots) + 1):
        stream.frame({s: start[s] for s in slots[:n]}, palm_slots)
    for i in range(1, steps + 1):
        stream.frame(moved(start, dx * i // steps, dy * i // steps), palm_slots)
    end = moved(start, dx, dy)
    for n in range(len(slots) - 1, -1, -1):
        stream.frame({s: end[s] for s in slots[:n]}, palm_slots)


s = Stream("Synthetic Clickpad")
swipe(s, line(3, 900, 1400), 0, -400)  # device y grows downward: this is up
s.write("three-finger-swipe-up.evemu")

s = Stream("Synthetic Clickpad")
swipe(s, line(4, 800, 1000, 300), -600, 20)
s.write("four-finger-swipe-left.evemu")

s = Stream("Synthetic Clickpad")
swipe(s, line(2, 1200, 1200), 0, -500)
s.write("two-finger-scroll.evemu")

s = Stream("Synthetic Clickpad")
start = line(3, 700, 1300)
start[4] = (2600, 1900)  # a palm resting at the bottom right
swipe(s, start, 0, -400, palm_slots=(4,))
s.write("palm-and-three-finger-swipe.evemu")

# Three fingers land; a buffer overrun drops part of a frame; the fingers then lift without
# travelling: the dropped frame's motion must not appear.
s = Stream("Synthetic Clickpad")
start = line(3, 900, 1400)
for n in range(1, 4):
    s.frame({k: start[k] for k in range(n)})
s.frame(moved(start, 0, -300), dropped=True)
s.frame(start)
for n in range(2, -1, -1):
    s.frame({k: start[k] for k in range(n)})
s.write("dropped-frame.evemu")
