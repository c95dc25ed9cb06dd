/**
 * Hands output over in the order the helper wrote it. Settling a reply only
 * queues the awaiting code as a microtask, so an event line that follows a
 * reply waits for the next turn of the event loop: the caller's code after
 * `await place(...)` runs before the `moved` that the place caused.
 */
export class OrderedDelivery<T> {
  private queue: T[] = [];
  private head = 0;
  private replySettled = false;
  private waiting = false;

  constructor(
    private readonly isReply: (item: T) => boolean,
    private readonly deliver: (item: T) => void,
  ) {}

  push(item: T): void {
    this.queue.push(item);
    if (!this.waiting) this.drain();
  }

  private drain(): void {
    this.waiting = false;
    while (this.head < this.queue.length) {
      const item = this.queue[this.head] as T;
      const reply = this.isReply(item);
      if (!reply && this.replySettled) {
        this.replySettled = false;
        this.waiting = true;
        setImmediate(() => this.drain());
        return;
      }
      this.head++;
      this.replySettled = reply;
      this.deliver(item);
    }
    this.queue = [];
    this.head = 0;
  }
}
