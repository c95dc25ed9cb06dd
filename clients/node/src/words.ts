import { KestroveError } from "./errors.js";

/** The helper's longest accepted line, in bytes, request id included. */
export const maxLineBytes = 4096;

// The helper splits at space, tab and carriage return and has no quoting; a
// line feed would end the line and NUL ends it for many readers. A lone
// surrogate cannot be sent as UTF-8 and would arrive as a different word.
const unsendable = /[ \t\r\n\0]|\p{Cs}/u;

/** Refuses words the helper would read differently from what the caller meant. */
export function checkWords(words: readonly string[]): void {
  if (!Array.isArray(words) || words.length === 0) {
    throw new KestroveError("invalid_argument", { detail: "no command words", words: [] });
  }
  for (const [i, word] of words.entries()) {
    if (typeof word !== "string") {
      throw new KestroveError("invalid_argument", { detail: `word ${i} is not a string`, words });
    }
    if (word === "") {
      throw new KestroveError("invalid_argument", { detail: `word ${i} is empty`, words });
    }
    const bad = unsendable.exec(word);
    if (bad) {
      throw new KestroveError("invalid_argument", {
        detail: `word ${i} holds ${JSON.stringify(bad[0])}, which the protocol cannot carry`,
        words,
      });
    }
  }
}

/** A number as a word the helper parses back to the same value. */
export function numberWord(value: number, name: string, words: readonly string[]): string {
  if (typeof value !== "number" || !Number.isFinite(value)) {
    throw new KestroveError("invalid_argument", { detail: `${name} must be a finite number`, words });
  }
  return String(value);
}

/** The line for checked words, with a request id when one is given. */
export function commandLine(words: readonly string[], id: number | null): string {
  const line = id === null ? words.join(" ") : `#${id} ${words.join(" ")}`;
  const bytes = Buffer.byteLength(line, "utf8");
  if (bytes > maxLineBytes) {
    throw new KestroveError("invalid_argument", {
      detail: `the line is ${bytes} bytes, over the limit of ${maxLineBytes}`,
      words,
    });
  }
  return line;
}
