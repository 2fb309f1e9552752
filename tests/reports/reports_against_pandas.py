#!/usr/bin/python3
"""talveron --report against pandas over the same logs: a day of two units with an hour half
missing, a given-up period, a stop and an alarm; every min, mean, max (and their times), ON
seconds, switches, coverage and minute count must be equal, for the daily report, the monthly
report made from the logs, and the monthly report made again from the daily summaries."""
import os, random, subprocess, sys, tempfile
import pandas as pd

talveron = sys.argv[1]
day = pd.Timestamp("2026-12-07")
station = tempfile.mkdtemp(prefix="reports-")
table = ("sysinf001.csv,Rec=2" + "," * 18 + "\r\nMoniterCycl=1,MoniterCyclType=s,TimeOut=1,TimeOutCyclType=s,"
         "ReloadCycl=1,ReloadSize=3" + "," * 14 + "\r\n名称,ＩＰ,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,"
         "RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,Control,Arm\r\n")
for u in range(2):
    table += f"ポンプ{u},127.0.0.1,0,{1000 + u},0,9600,Ain,Ain,non,non,Din,Dout,non,non,non,non,non,non,On,non\r\n"
open(os.path.join(station, "sysinf001.csv"), "w", encoding="cp932", newline="").write(table + "\r\n")

def t(h, m, s=0):
    return day + pd.Timedelta(hours=h, minutes=m, seconds=s)

# The journal: unit 1 given up 13:20-13:50, monitoring stopped 20:00-20:30, an alarm of unit 0.
journal = [(t(9, 15), "000", "ポンプ0", "発生", "Ain: 0:High"), (t(13, 20), "001", "ポンプ1", "通信断", ""),
           (t(13, 50), "001", "ポンプ1", "通信復帰", ""), (t(20, 0), "", "", "監視停止", ""),
           (t(20, 30), "", "", "監視開始", "")]
with open(os.path.join(station, "AlarmLog.csv"), "w", encoding="cp932", newline="") as f:
    for when, unit, name, event, cond in journal:
        f.write(f"{when:%Y/%m/%d %H:%M:%S},{unit},{name},{event},{cond}\r\n")

rng = random.Random(7)
frames = {}
for u in range(2):
    times = pd.date_range(day, periods=86400, freq="s")
    if u == 0:  # hour 10 has every other second missing
        times = times[~((times.hour == 10) & (times.second % 2 == 1))]
    ra0 = [rng.randint(0, 1023) for _ in times]
    ra1 = [rng.randint(200, 220) for _ in times]
    rb0 = [int(rng.random() < 0.3) for _ in times]
    rb1 = [(i // 700) % 2 for i in range(len(times))]
    df = pd.DataFrame({"time": times, "RA0": ra0, "RA1": ra1, "RB0": rb0, "RB1": rb1})
    with open(os.path.join(station, f"DataFile{u:03d}.csv"), "w", newline="") as f:
        for r in df.itertuples():
            f.write(f"{r.time:%Y/%m/%d %H:%M:%S}, {r.RA0}, {r.RA1}, 0, 0, {r.RB0}, {r.RB1}, 0, 0, 0, 0, 0, 0, 22\r\n")
    quiet = (df.time >= t(20, 0)) & (df.time < t(20, 30))
    if u == 1:
        quiet |= (df.time >= t(13, 20)) & (df.time < t(13, 50))
    frames[u] = df[~quiet]

def expected(df, key):
    g = df.groupby(key)
    rows = {}
    for k, part in g:
        for ch in ("RA0", "RA1"):
            s = part.set_index("time")[ch]
            rows[(k, ch)] = (str(s.min()), f"{s.idxmin():%Y/%m/%d %H:%M:%S}", f"{s.mean():.2f}", str(s.max()),
                             f"{s.idxmax():%Y/%m/%d %H:%M:%S}", "", str(len(part)))
        for ch in ("RB0", "RB1"):
            rows[(k, ch)] = ("", "", "", "", "", str(int(part[ch].sum())), str(len(part)))
    # a switch is a line whose level differs from the line before it within the report
    sw = {ch: (df[ch].diff().fillna(0) != 0).groupby(key).sum() for ch in ("RB0", "RB1")}
    return rows, sw

def read(path):
    return pd.read_csv(path, encoding="cp932", dtype=str, keep_default_na=False)

def run(*args):
    out = os.path.join(station, "out")
    r = subprocess.run([talveron, "--report", *args, "--out", out], cwd=station, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    return out

failures = []
def check(kind, label, key_of, period_of):
    name = f"daily-2026-12-07" if kind == "daily" else "monthly-2026-12"
    figures, events = read(os.path.join(out, name + ".csv")), read(os.path.join(out, name + "-events.csv"))
    for u in range(2):
        rows, sw = expected(frames[u], key_of(frames[u]))
        for (k, ch), want in rows.items():
            got = figures[(figures["期間"] == period_of(k)) & (figures["ユニット"] == f"{u:03d}") & (figures["チャンネル"] == ch)]
            got = tuple(got.iloc[0][["最小", "最小時刻", "平均", "最大", "最大時刻", "ON秒数", "記録秒数"]]) if len(got) else None
            if got != want:
                failures.append(f"{label} unit {u} {period_of(k)} {ch}: {got} != {want}")
        for k in sw["RB0"].index:
            e = events[(events["期間"] == period_of(k)) & (events["ユニット"] == f"{u:03d}")].iloc[0]
            for ch in ("RB0", "RB1"):
                if e[f"{ch}切替回数"] != str(int(sw[ch][k])):
                    failures.append(f"{label} unit {u} {period_of(k)} {ch} switches {e[f'{ch}切替回数']} != {sw[ch][k]}")
    ev = events.set_index(["期間", "ユニット"])
    hourly = kind == "daily"
    for (period, unit), col, want in [((("2026/12/07 09" if hourly else "2026/12/07"), "000"), "アラーム回数", "1"),
                                     ((("2026/12/07 13" if hourly else "2026/12/07"), "001"), "通信断分数", "30"),
                                     ((("2026/12/07 20" if hourly else "2026/12/07"), "000"), "監視停止分数", "30")]:
        if ev.loc[(period, unit), col] != want:
            failures.append(f"{label} {period} {unit} {col}: {ev.loc[(period, unit), col]} != {want}")

out = run("daily", "2026-12-07")
check("daily", "daily", lambda df: df.time.dt.hour, lambda h: f"2026/12/07 {h:02d}")
summary = os.path.join(station, "reports", "summaries", "2026-12-07.csv")
os.remove(summary)  # the month from the logs
out = run("monthly", "2026-12")
check("monthly", "monthly from the logs", lambda df: df.time.dt.day, lambda d: f"2026/12/{d:02d}")
assert os.path.exists(summary), "the day's summary was not kept"
first = open(os.path.join(out, "monthly-2026-12.csv"), "rb").read()
out = run("monthly", "2026-12")  # now from the daily summaries
assert open(os.path.join(out, "monthly-2026-12.csv"), "rb").read() == first, "the month differs when made from summaries"
bad = subprocess.run([talveron, "--report", "daily", "2026-13-01", "--out", "x"], cwd=station, capture_output=True, text=True)
assert bad.returncode == 1 and bad.stderr, "a bad date must fail with a reason"
if failures:
    print("\n".join(failures[:20]))
    sys.exit(1)
print("reports agree with pandas")
