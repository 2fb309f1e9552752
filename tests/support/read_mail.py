#!/usr/bin/python3
"""Reads one stored mail with Python's email package; prints its parts as JSON."""
import email, email.policy, json, sys

msg = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)
print(json.dumps({'to': str(msg['To']), 'from': str(msg['From']), 'subject': str(msg['Subject']),
                  'content_type': msg.get_content_type(), 'body': msg.get_content(),
                  'headers': list(msg.keys())}, ensure_ascii=False))
