// A file's identity: the first 4 bytes of the SHA-256 of its bytes, as 8
// lowercase hex digits. The file's bytes, not its decoded pixels: browsers
// decode semi-transparent pixels differently, so only the bytes name the
// same image the same way everywhere.
export async function contentHash(bytes) {
  const digest = await crypto.subtle.digest("SHA-256", bytes);
  return Array.from(new Uint8Array(digest, 0, 4), (byte) => byte.toString(16).padStart(2, "0")).join("");
}
