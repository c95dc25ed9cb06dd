/**
 * Cuts a byte stream into lines at line feeds. Bytes are kept until their
 * line is complete, so a character split across two reads decodes whole
 * (a UTF-8 continuation byte is never 0x0A).
 */
export class LineSplitter {
  private pending: Buffer[] = [];

  constructor(private readonly onLine: (line: string) => void) {}

  push(chunk: Buffer): void {
    let start = 0;
    for (let end = chunk.indexOf(0x0a); end !== -1; end = chunk.indexOf(0x0a, start)) {
      let bytes = chunk.subarray(start, end);
      if (this.pending.length > 0) {
        bytes = Buffer.concat([...this.pending, bytes]);
        this.pending = [];
      }
      start = end + 1;
      this.onLine(decode(bytes));
    }
    if (start < chunk.length) this.pending.push(chunk.subarray(start));
  }

  /** The end of the stream: a last line without its line feed still counts. */
  end(): void {
    if (this.pending.length === 0) return;
    const bytes = Buffer.concat(this.pending);
    this.pending = [];
    this.onLine(decode(bytes));
  }
}

function decode(bytes: Buffer): string {
  const text = bytes.toString("utf8");
  return text.endsWith("\r") ? text.slice(0, -1) : text;
}
