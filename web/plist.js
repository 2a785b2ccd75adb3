// XML property lists to JavaScript values and back.
// dict -> plain object (keys in order), array -> Array, string -> string,
// integer and real -> number, true/false -> boolean, date -> Date,
// data -> Uint8Array. Writing, a whole number becomes <integer>, any other
// a <real> (the monitor's settings take either where they take a number).
const plist = (() => {
  function childElements(node) {
    return Array.from(node.childNodes).filter((child) => child.nodeType === Node.ELEMENT_NODE);
  }

  function readNumber(text) {
    const special = { nan: NaN, inf: Infinity, infinity: Infinity };
    const word = text.toLowerCase().replace(/^[+-]/, '');
    if (word in special) return text.startsWith('-') ? -special[word] : special[word];
    const number = Number(text);
    if (text === '' || Number.isNaN(number)) throw new Error(`not a number: "${text}"`);
    return number;
  }

  function readValue(node) {
    const text = node.textContent;
    switch (node.tagName) {
      case 'dict': {
        const out = {};
        const children = childElements(node);
        for (let i = 0; i + 1 < children.length; i += 2) {
          if (children[i].tagName !== 'key') throw new Error('a dictionary entry without its key');
          // Defined, not assigned: a key "__proto__" stays a key.
          Object.defineProperty(out, children[i].textContent, {
            value: readValue(children[i + 1]), enumerable: true, writable: true, configurable: true,
          });
        }
        if (children.length % 2) throw new Error('a dictionary key without its value');
        return out;
      }
      case 'array': return childElements(node).map(readValue);
      case 'string': return text;
      case 'integer':
      case 'real': return readNumber(text.trim());
      case 'true': return true;
      case 'false': return false;
      case 'date': return new Date(text.trim());
      case 'data': return Uint8Array.from(atob(text.replace(/\s+/g, '')), (c) => c.charCodeAt(0));
      default: throw new Error(`unknown element <${node.tagName}>`);
    }
  }

  // The value of the document's <plist>; throws with a reason when the text
  // is not a property list.
  function parse(text) {
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    const failure = doc.getElementsByTagName('parsererror')[0];
    if (failure) throw new Error('not XML');
    const root = doc.documentElement;
    if (root.tagName !== 'plist') throw new Error('not a property list');
    const values = childElements(root);
    if (values.length !== 1) throw new Error('a property list holds one value');
    return readValue(values[0]);
  }

  function escape(text) {
    return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  }

  function writeValue(value) {
    if (typeof value === 'string') return `<string>${escape(value)}</string>`;
    if (typeof value === 'boolean') return value ? '<true/>' : '<false/>';
    if (typeof value === 'number') {
      return Number.isInteger(value) ? `<integer>${value}</integer>` : `<real>${value}</real>`;
    }
    if (value instanceof Date) return `<date>${value.toISOString().replace(/\.\d+Z$/, 'Z')}</date>`;
    if (value instanceof Uint8Array) {
      return `<data>${btoa(String.fromCharCode(...value))}</data>`;
    }
    if (Array.isArray(value)) return `<array>${value.map(writeValue).join('')}</array>`;
    if (value && typeof value === 'object') {
      const entries = Object.entries(value).filter(([, v]) => v !== undefined);
      const entry = ([k, v]) => `<key>${escape(k)}</key>${writeValue(v)}`;
      return `<dict>${entries.map(entry).join('')}</dict>`;
    }
    throw new Error(`no property-list kind for ${value}`);
  }

  function stringify(value) {
    const head = '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">';
    return `${head}${writeValue(value)}</plist>\n`;
  }

  return { parse, stringify };
})();
