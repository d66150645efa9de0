// English: every text the studio page shows, by key (ja.js holds the same
// keys with the same {values}). {name} is filled with a named value,
// {name:count} with a number written with digit grouping; a text given as
// { one, other } is chosen by the value {count}.
export default {
  // ---- The page ------------------------------------------------------------
  "page.title": "DrawVelora studio",

  // ---- The script reader's messages ----------------------------------------
};
