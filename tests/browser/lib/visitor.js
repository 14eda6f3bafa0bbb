// What a visitor does on the board, one helper per errand, each starting
// from the main page and going on by clicking links and filling forms.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { visibleText } from './site.js';

export const ERROR_PAGE_TEXT = 'The following internal error has occurred';

// Fails with the error page's own words when the program answered with one.
export async function assertNotErrorPage(page, what) {
  const text = await visibleText(page);
  if (text.includes(ERROR_PAGE_TEXT)) {
    const detail = await page.locator('pre').first().innerText().catch(() => '');
    assert.fail(`${what}: the program answered with its error page: ${detail || text.slice(0, 300)}`);
  }
}

// Steps of one story run in order; once one fails the rest are skipped (the
// failure itself is reported, so the run still fails).
export function storySteps() {
  let failed = null;
  return function step(name, fn) {
    it(name, async (t) => {
      if (failed) {
        t.skip(`skipped: the step "${failed}" failed`);
        return;
      }
      try {
        await fn(t);
      } catch (e) {
        failed = name;
        throw e;
      }
    });
  };
}

export async function gotoMain(page, site) {
  const response = await page.goto(site.main);
  assert.equal(response.status(), 200, 'main page status');
  assert.equal(await page.title(), 'Quaybill/32 - HTML - Main Page');
}

// Places an ad through the new-ad form; returns the page after the post.
export async function placeAd(page, site, ad) {
  await gotoMain(page, site);
  await page.getByRole('link', { name: 'Place an Ad', exact: true }).click();
  await page.waitForLoadState();
  const form = page.locator('form[action*="Action=ADD" i]');
  await form.locator('select[name="Category"]').selectOption({ label: ad.category });
  await form.locator('input[name="Item"]').fill(ad.item);
  await form.locator('input[name="Name"]').fill(ad.name);
  await form.locator('input[name="Email"]').fill(ad.email);
  await form.locator('input[name="Phone"]').fill(ad.phone);
  await form.locator('input[name="Price"]').fill(ad.price);
  await form.locator('input[name="Password"]').fill(ad.password);
  await form.locator('textarea[name="Desc"]').fill(ad.desc);
  // The form's fields must hold exactly what was typed (no field cut short).
  assert.equal(await form.locator('input[name="Item"]').inputValue(), ad.item);
  assert.equal(await form.locator('input[name="Name"]').inputValue(), ad.name);
  assert.equal(await form.locator('input[name="Password"]').inputValue(), ad.password);
  const [response] = await Promise.all([
    page.waitForNavigation(),
    form.locator('input[type="submit"][value="Place Ad"]').click(),
  ]);
  assert.equal(response.status(), 200, 'status of the post that places the ad');
  await assertNotErrorPage(page, `placing "${ad.item}"`);
  return page;
}

// The listing of one category, reached through the category index.
export async function openCategory(page, site, categoryName) {
  await gotoMain(page, site);
  await page.getByRole('link', { name: 'Show Ads', exact: true }).click();
  await page.waitForLoadState();
  await page.getByRole('link', { name: categoryName, exact: true }).click();
  await page.waitForLoadState();
  await assertNotErrorPage(page, `listing ${categoryName}`);
  return visibleText(page);
}

export async function openShowAll(page, site) {
  await gotoMain(page, site);
  await page.getByRole('link', { name: 'Show ALL Ads', exact: true }).click();
  await page.waitForLoadState();
  await assertNotErrorPage(page, 'Show ALL Ads');
  return visibleText(page);
}

// The seller's ads, asked for with the main page's "Your Name" form.
// With { expectAds: false } any answer is taken (a seller with no ads may
// get a page that says so in its own way).
export async function openSellerAds(page, site, name, { expectAds = true } = {}) {
  await gotoMain(page, site);
  const form = page.locator('form[action*="Action=Getedit" i]');
  await form.locator('input[name="Name"]').fill(name);
  const [response] = await Promise.all([page.waitForNavigation(), form.locator('input[type="submit"]').click()]);
  assert.equal(response.status(), 200, `status of the ads of ${name}`);
  if (expectAds) await assertNotErrorPage(page, `the ads of ${name}`);
  return visibleText(page);
}

// The links from the seller's ads to each ad's password form.
export function passwordLinks(page) {
  return page.locator('a[href*="Action=Getpw" i]');
}

// Seller's ads -> the one ad's password form -> the password -> what follows.
export async function unlockOnlyAd(page, site, sellerName, typedPassword) {
  await openSellerAds(page, site, sellerName);
  const links = passwordLinks(page);
  assert.equal(await links.count(), 1, `${sellerName} should have exactly one ad to edit`);
  await links.first().click();
  await page.waitForLoadState();
  assert.equal(await page.title(), 'Quaybill/32 - HTML - Get Password');
  const form = page.locator('form[action*="Action=Edit" i]');
  await form.locator('input[name="pw"]').fill(typedPassword);
  await Promise.all([page.waitForNavigation(), form.locator('input[type="submit"][value="Get Item"]').click()]);
  return page;
}

export function updateForm(page) {
  return page.locator('form[action*="Action=Update" i]');
}

export function deleteForm(page) {
  return page.locator('form[action*="Action=Delete" i]');
}
