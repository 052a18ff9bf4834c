// A strict JSON reader that accepts exactly what the desktop's reader accepts:
// RFC 8259 grammar, finite numbers, no duplicate keys in an object (two readers
// that picked different copies of a repeated key would see different messages),
// no unpaired surrogate escapes, nesting up to 512 levels. Returns the value, or
// undefined for anything else. Objects come back without a prototype, so a key
// such as "__proto__" is plain data.

const maxDepth = 512;

class Reader {
    constructor(text) {
        this.text = text;
        this.i = 0;
    }

    fail() {
        throw reject;
    }

    space() {
        const t = this.text;
        let i = this.i;
        for (;;) {
            const c = t.charCodeAt(i);
            if (c === 0x20 || c === 0x0a || c === 0x0d || c === 0x09) ++i;
            else break;
        }
        this.i = i;
    }

    value(depth) {
        const c = this.text.charCodeAt(this.i);
        switch (c) {
        case 0x7b: return this.object(depth + 1); // {
        case 0x5b: return this.array(depth + 1); // [
        case 0x22: return this.string(); // "
        case 0x74: return this.literal('true', true);
        case 0x66: return this.literal('false', false);
        case 0x6e: return this.literal('null', null);
        default: return this.number();
        }
    }

    literal(word, result) {
        if (!this.text.startsWith(word, this.i)) this.fail();
        this.i += word.length;
        return result;
    }

    object(depth) {
        if (depth > maxDepth) this.fail();
        const out = Object.create(null);
        ++this.i;
        this.space();
        if (this.text.charCodeAt(this.i) === 0x7d) {
            ++this.i;
            return out;
        }
        for (;;) {
            this.space();
            if (this.text.charCodeAt(this.i) !== 0x22) this.fail();
            const key = this.string();
            if (Object.prototype.hasOwnProperty.call(out, key)) this.fail();
            this.space();
            if (this.text.charCodeAt(this.i) !== 0x3a) this.fail();
            ++this.i;
            this.space();
            out[key] = this.value(depth);
            this.space();
            const c = this.text.charCodeAt(this.i++);
            if (c === 0x2c) continue;
            if (c === 0x7d) return out;
            this.fail();
        }
    }

    array(depth) {
        if (depth > maxDepth) this.fail();
        const out = [];
        ++this.i;
        this.space();
        if (this.text.charCodeAt(this.i) === 0x5d) {
            ++this.i;
            return out;
        }
        for (;;) {
            this.space();
            out.push(this.value(depth));
            this.space();
            const c = this.text.charCodeAt(this.i++);
            if (c === 0x2c) continue;
            if (c === 0x5d) return out;
            this.fail();
        }
    }

    string() {
        const t = this.text;
        let i = this.i + 1;
        let out = '';
        let run = i;
        for (;;) {
            if (i >= t.length) this.fail();
            const c = t.charCodeAt(i);
            if (c === 0x22) {
                out += t.slice(run, i);
                this.i = i + 1;
                return out;
            }
            if (c < 0x20) this.fail();
            if (c !== 0x5c) {
                ++i;
                continue;
            }
            out += t.slice(run, i);
            const e = t.charCodeAt(i + 1);
            i += 2;
            switch (e) {
            case 0x22: out += '"'; break;
            case 0x5c: out += '\\'; break;
            case 0x2f: out += '/'; break;
            case 0x62: out += '\b'; break;
            case 0x66: out += '\f'; break;
            case 0x6e: out += '\n'; break;
            case 0x72: out += '\r'; break;
            case 0x74: out += '\t'; break;
            case 0x75: {
                const unit = this.hex4(i);
                i += 4;
                if (unit >= 0xdc00 && unit <= 0xdfff) this.fail();
                if (unit >= 0xd800 && unit <= 0xdbff) {
                    if (t.charCodeAt(i) !== 0x5c || t.charCodeAt(i + 1) !== 0x75) this.fail();
                    const low = this.hex4(i + 2);
                    if (low < 0xdc00 || low > 0xdfff) this.fail();
                    i += 6;
                    out += String.fromCharCode(unit, low);
                } else {
                    out += String.fromCharCode(unit);
                }
                break;
            }
            default:
                this.fail();
            }
            run = i;
        }
    }

    hex4(at) {
        const digits = this.text.slice(at, at + 4);
        if (!/^[0-9a-fA-F]{4}$/.test(digits)) this.fail();
        return parseInt(digits, 16);
    }

    number() {
        numberPattern.lastIndex = this.i;
        const match = numberPattern.exec(this.text);
        if (!match) this.fail();
        this.i += match[0].length;
        const value = Number(match[0]);
        if (!Number.isFinite(value)) this.fail(); // 1e400 is refused, not turned into infinity
        return value;
    }
}

const reject = Symbol('reject');
const numberPattern = /-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?/y;

export function parseStrictJson(text) {
    const reader = new Reader(text);
    try {
        reader.space();
        const value = reader.value(0);
        reader.space();
        return reader.i === text.length ? value : undefined;
    } catch (error) {
        if (error === reject) return undefined;
        throw error;
    }
}

const utf8 = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });

// The same for bytes: invalid UTF-8 is refused, not replaced.
export function parseStrictJsonBytes(bytes) {
    let text;
    try {
        text = utf8.decode(bytes);
    } catch {
        return undefined;
    }
    return parseStrictJson(text);
}
