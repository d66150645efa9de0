// A short name for a file's contents: the first 8 hexadecimal digits of
// its SHA-256. Sheets and pictures are known by their name and this, so a
// setup can tell the file it was made with from another of the same name.
// The file's bytes, not its decoded pixels, because browsers decode
// half-transparent pixels a little differently.
export async function contentHash(bytes) {
  const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", bytes));
  return Array.from(digest.slice(0, 4), (byte) => byte.toString(16).padStart(2, "0")).join("");
}
