// Pairing: a pasted key, a scanned QR code, or the key a link brought. Forwards
// the key text; the app decides.

import { byId } from './dom.js';

export class PairView {
    constructor({ onPair, onScan }) {
        this.root = byId('pairView');
        this.form = byId('pairForm');
        this.key = byId('keyInput');
        this.remember = byId('rememberInput');
        this.problem = byId('pairProblem');
        this.scan = byId('scanButton');
        this.form.addEventListener('submit', (event) => {
            event.preventDefault();
            onPair(this.key.value, this.remember.checked);
        });
        this.scan.addEventListener('click', () => onScan());
    }

    show(visible) {
        this.root.hidden = !visible;
    }

    setCameraAvailable(available) {
        this.scan.hidden = !available;
    }

    setKey(text) {
        this.key.value = text;
    }

    showProblem(text) {
        this.problem.textContent = text ?? '';
        this.problem.hidden = !text;
    }

    reset() {
        this.key.value = '';
        this.remember.checked = false;
        this.showProblem(null);
    }
}
