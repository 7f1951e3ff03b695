# aiosmtpd handler for the end-to-end mail test: saves each message into the working directory
# as message1, message2, ...: its envelope sender, its recipients one a line, an empty line and
# its un-stuffed content. The server ends itself after two minutes should the test never stop it.
import os
import threading

threading.Timer(120, os._exit, args=(3,)).start()


class Recorder:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Recorder.count += 1
        with open("message%d" % Recorder.count, "wb") as f:
            envelope_lines = [envelope.mail_from] + envelope.rcpt_tos + ["", ""]
            f.write("\n".join(envelope_lines).encode() + envelope.original_content)
        return "250 Message accepted"
