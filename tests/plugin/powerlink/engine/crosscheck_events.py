#!/usr/bin/env python3
# Independent count of the cycle events of a single-network capture, from
# tshark's own POWERLINK dissection (not from the engine): the phase model
# SoC -> PReq/PRes -> SoA -> asynchronous slot, used to check by hand the
# expectations of real_captures_test.cpp. Usage: crosscheck_events.py FILE [v]
import subprocess, sys, collections
f = sys.argv[1]
out = subprocess.run(["tshark","-r",f,"-T","fields","-E","separator=|","-e","frame.number","-e","frame.time_epoch",
  "-e","eth.type","-e","epl.mtyp","-e","epl.src","-e","epl.dest","-e","eth.src","-e","epl.soa.svid","-e","epl.soa.eplv", "-e", "epl.asnd.svid"],
  capture_output=True, text=True).stdout.splitlines()
ev = collections.Counter()
phase = 0; warm = True; soa_seen = False; soc_count = 0
pres_this = pres_prev = 0; missing_reported = False
preq_this = preq_prev = 0  # PReqs of the cycle: fewer polls are no PRes loss
prev = None  # (kind) of previous frame
all_cyclic = False
evlist = []
def rep(n, name): ev[name]+=1; evlist.append((n,name))
for line in out:
    p = line.split("|")
    n = int(p[0]); et = p[2]; mt = p[3]
    kind = "other"
    if et == "0x88ab" and mt:
        m = int(mt, 0)
        kind = {1:"soc",3:"preq",4:"pres",5:"soa",6:"asnd",13:"ainv"}.get(m,"?")
    cyclic = kind in ("soc","preq","pres")
    if kind == "soc":
        if phase in (1,2) and not warm: rep(n,"Unexpected SoC")
        if phase == 2: missing_reported = True
        soc_count += 1
        if soc_count > 1 and phase != 0:
            if not warm:
                if not soa_seen: rep(n,"Loss of SoA")
                if pres_this - preq_this < pres_prev - preq_prev and not missing_reported:
                    rep(n,"Loss of PRes")
            pres_prev = pres_this; preq_prev = preq_this
        else: pres_prev = preq_prev = 0
        missing_reported = False; pres_this = preq_this = 0; soa_seen = False; phase = 1
    elif kind == "preq":
        if phase == 3: rep(n,"Loss of SoC"); soa_seen = False; pres_this = preq_this = 0
        elif phase == 2: rep(n,"Unexpected Poll Request"); missing_reported = True
        preq_this += 1; phase = 2
    elif kind == "pres":
        pres_this += 1; phase = 1
    elif kind == "soa":
        if not warm:
            if phase in (2,3): rep(n,"Unexpected SoA")
            if phase == 2: missing_reported = True
            if soc_count > 0 and soa_seen: rep(n,"Loss of SoC"); pres_this = preq_this = 0; missing_reported = True
        soa_seen = True; phase = 3
    if cyclic: warm = False; all_cyclic = True
    # slot accounting: misplaced non-POWERLINK / ASnd frames
    if kind in ("asnd","other") and prev not in ("soa","ainv") and all_cyclic and not cyclic:
        if not (prev in ("asnd","other") and phase == 3): rep(n,"Misplaced Async Frame")
    prev = kind
for k,v in sorted(ev.items()): print(v, k)
if len(sys.argv) > 2:
    for n,name in evlist: print(n, name)
