"""A process's output lines as they come, each with the time it arrived (for the benchmarks)."""
import threading
import time


class Lines:
    """Lines of a stream, each with the time it arrived."""

    def __init__(self, stream):
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for raw in stream:
            with self.cond:
                self.lines.append((time.monotonic(), raw.decode(errors="replace")))
                self.cond.notify_all()

    def wait_for(self, text, limit=120):
        """The time and the text of the first line holding `text`; TimeoutError after `limit` s."""
        deadline = time.monotonic() + limit
        with self.cond:
            while True:
                for at, line in self.lines:
                    if text in line:
                        return at, line
                left = deadline - time.monotonic()
                if left <= 0:
                    seen = "".join(line for _, line in self.lines[-20:])
                    raise TimeoutError(f"no line with {text!r}; the last lines:\n{seen}")
                self.cond.wait(left)
