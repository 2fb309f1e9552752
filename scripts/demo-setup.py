#!/usr/bin/env python3
"""Writes a demo working directory: 40 units on the simulator, a few unmonitored, two with alarms.

demo-setup.py DIR [UNITS [MODE [SEND_FOLDER]]]: the relay demo writes two stations of 3 units,
one in mode 3 copying into the other's directory, the other in mode 2 reading it."""
import os, shutil, sys

out = sys.argv[1]
first, port = "127.0.0.", 1502
units = int(sys.argv[2]) if len(sys.argv) > 2 else 40
mode = sys.argv[3] if len(sys.argv) > 3 else "3"
send_folder = sys.argv[4] if len(sys.argv) > 4 else ""
unmonitored = {5, 17, 33}
alarms = {2: "Din: 2:High", 9: "Din: 3:Low"}
os.makedirs(out, exist_ok=True)

rows = []
for u in range(units):
    name = "ユニット%02d" % (u + 1)
    pins = ["Ain", "Ain", "non", "non", "Din", "Din", "Din", "Din", "Dout", "Dout", "non", "non"]
    control = "Off" if u in unmonitored else "On"
    rows.append(",".join([name, first + str(11 + u), "0", str(port), "0", "9600"] + pins + [control, alarms.get(u, "non")]))

text = "sysinf001.csv,Rec= %d" % units + "," * 18 + "\r\n"
text += "MoniterCycl= 1,MoniterCyclType=s,TimeOut= 1,TimeOutCyclType=s,ReloadCycl= 2,ReloadSize= 3," + "," * 14 + "\r\n"
text += "名称,ＩＰ,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,Control,Arm\r\n"
text += "".join(r + "\r\n" for r in rows) + "\r\n"
with open(os.path.join(out, "sysinf001.csv"), "wb") as f:
    f.write(text.encode("cp932"))

ini = ["Mode=" + mode, "Mode2=1", "FTP=", "ID=", "PassWord=", "RemoteDir=", "URL="]
ini += ["FileName%d=unit%02d" % (u + 1, u + 1) for u in range(units)]
ini += ["TimeOut=3", "NotReadSize=5", "ProxyServerName=", "ProxyPortNo=", "SMTPServerName=",
        "SendMailName=", "MailHeader=アラーム", "MailBody=", "DialUpName=", "DialUpUser=", "DialUpPass=",
        "SendFordername=" + send_folder, "Camera1=", "Camera2=", "Camera3=", "Camera4="]
with open(os.path.join(out, "InetInf.ini"), "wb") as f:
    f.write(("\r\n".join(ini) + "\r\n\r\n").encode("cp932"))

# Tag names and engineering units for the trend, the alarm history and MQTT: the first units'
# levels in metres and pressures in MPa, their pumps running or stopped.
channels = ["ユニット,チャンネル,タグ名,単位,生値下限,生値上限,工学値下限,工学値上限,小数桁,ON表示,OFF表示"]
for u in range(min(units, 4)):
    channels += ["%03d,RA0,水位,m,0,1023,0,5,2,," % u, "%03d,RA1,圧力,MPa,0,1023,0,1,3,," % u,
                 "%03d,RB2,ポンプ%d,,,,,,,運転,停止" % (u, u + 1)]
with open(os.path.join(out, "ChannelInf.csv"), "wb") as f:
    f.write(("\r\n".join(channels) + "\r\n").encode("cp932"))

res = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
for icon in ("ledON.ico", "ledOFF.ico", "ledON2.ico", "ledWAIT.ico"):
    shutil.copy(os.path.join(res, icon), out)
