#!/usr/bin/python3
"""Reads one stored mail with Python's email package; prints its parts as JSON (the body of the
text part, and each attachment's file name, type and bytes in Base64)."""
import base64, email, email.policy, json, sys

msg = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)
text = msg.get_body(preferencelist=('plain',)) if msg.is_multipart() else msg
attachments = [{'filename': a.get_filename(), 'content_type': a.get_content_type(),
                'bytes': base64.b64encode(a.get_content()).decode()} for a in msg.iter_attachments()]
print(json.dumps({'to': str(msg['To']), 'from': str(msg['From']), 'subject': str(msg['Subject']),
                  'content_type': msg.get_content_type(), 'body': text.get_content() if text else '',
                  'attachments': attachments, 'headers': list(msg.keys())}, ensure_ascii=False))
