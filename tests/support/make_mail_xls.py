#!/usr/bin/python3
"""Writes an address book workbook with xlwt.

usage: make_mail_xls.py OUT SHEET HEADER1,HEADER2 [ROW...]
Each ROW is "address|name"; an empty field leaves the cell empty, and a field
"date:YYYY-MM-DD HH:MM FORMAT" writes a date cell shown in that number format.
"""
import datetime, sys, xlwt

out, sheet, header = sys.argv[1:4]
book = xlwt.Workbook(encoding='utf-8')
ws = book.add_sheet(sheet)
for c, title in enumerate(header.split(',')):
    ws.write(0, c, title)
for r, row in enumerate(sys.argv[4:], start=1):
    for c, value in enumerate(row.split('|')):
        if value.startswith('date:'):
            stamp, fmt = value[5:21], value[22:]
            when = datetime.datetime.strptime(stamp, '%Y-%m-%d %H:%M')
            ws.write(r, c, when, xlwt.easyxf(num_format_str=fmt))
        elif value:
            ws.write(r, c, value)
book.save(out)
